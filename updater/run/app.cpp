#include "run/app.h"

#include <new>

#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "run/main_dlg.h"
#include "run/process.h"
#include "run/release_refusal.h"
#include "run/run_paths.h"
#include "ui/general_msg_dlg.h"
#include "ui/home_page.h"
#include "ui/message_box.h"


namespace {
const char kBadLaunchText[] =
    "잘못된 실행정보로 실행 되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.";
}  // namespace

CULPatchwellApp* GetTheApp() { return static_cast<CULPatchwellApp*>(AfxGetApp()); }

UpdateConfig* GetConfig() {
  CULPatchwellApp* app = GetTheApp();
  return app != nullptr ? app->GetConfig() : nullptr;
}

CULPatchwellApp::~CULPatchwellApp() = default;

void SetStatus(const char* text) {
  CULPatchwellApp* app = GetTheApp();
  if (app != nullptr) app->SetStatusText(text);
}

void CULPatchwellApp::SetStatusText(const std::string& text) {
  CSingleLock lock(statusLock_);
  statusText_ = text;
}

std::string CULPatchwellApp::GetStatusText() {
  CSingleLock lock(statusLock_);
  return statusText_;
}

BOOL CULPatchwellApp::InitInstance() {
  // The framework has already set up the common controls (the progress
  // bars) with the system's look; there is no separate 3D switch to turn on.
  DebugTrace("ULPatchwell start, %d argument(s)", m_argc - 1);

  ownedConfig_.reset(new (std::nothrow) UpdateConfig());
  config_ = ownedConfig_.get();
  if (config_ == nullptr) return FALSE;

  if (config_->CheckLaunchInfo(m_argc, m_argv) != 0) {
    ShowMessageBox(ul::kBoxError, kBadLaunchText);
    OpenHomePage();
    return FALSE;
  }

  config_->clientRunning = IsProcessRunning(kClientModule) ? 1 : 0;

  // A configuration file that cannot be read ends the run silently.
  if (!config_->ReadDirectoryFile()) return FALSE;
  config_->DetectVista();
  if (config_->isVista == 1) PrepareRegistryForVista();
  if (!config_->ReadProgramConfig()) return FALSE;
  // A build with a release key goes no further than this unless the
  // server's release is signed by it, and no older than the installed one;
  // from here on every fetched file is checked against that release.
  if (releaseKey_ != nullptr && releaseKey_[0] != '\0') {
    const int refusal = config_->CheckSignedRelease(releaseKey_);
    if (refusal != 0) {
      ShowReleaseRefusal(refusal);
      return FALSE;
    }
  }
  if (!config_->ReadHashList()) {
    if (config_->releaseRefusal != 0) ShowReleaseRefusal(config_->releaseRefusal);
    return FALSE;
  }

  {
    CULPatchwellDlg dialog;
    dialog.DoModal();
  }
  m_pMainWnd = nullptr;
  return FALSE;
}
