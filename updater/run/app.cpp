#include "run/app.h"

#include <new>

#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "run/main_dlg.h"
#include "run/process.h"
#include "run/release_refusal.h"
#include "intake/intake.h"
#include "run/launch_info.h"
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

// True when the release check did not refuse (refusal 0); otherwise its
// box, and false.
static bool Accepted(int refusal) {
  if (refusal == 0) return true;
  ShowReleaseRefusal(refusal);
  return false;
}

BOOL CULPatchwellApp::EndStart() {
  Accepted(config_->releaseRefusal);
  return FALSE;
}

BOOL CULPatchwellApp::InitInstance() {
  // The framework has already set up the common controls (the progress
  // bars) with the system's look; there is no separate 3D switch to turn on.
  DebugTrace("ULPatchwell start, %d argument(s)", m_argc - 1);

  ownedConfig_.reset(new (std::nothrow) UpdateConfig());
  config_ = ownedConfig_.get();
  if (config_ == nullptr) return FALSE;

  if (CheckLaunchInfo(*config_, m_argc, m_argv) != 0) {
    ShowMessageBox(ul::kBoxError, kBadLaunchText);
    OpenHomePage();
    return FALSE;
  }

  config_->clientRunning = IsProcessRunning(kClientModule) ? 1 : 0;

  // A build with a release key checks the release's signature before it
  // reads anything else, and from then on every fetched file against it; a
  // refusal ends the run with its box. A configuration file that cannot be
  // read ends the run silently.
  const bool keyed = releaseKey_ != nullptr && releaseKey_[0] != '\0';
  if (keyed && !Accepted(FetchSignedRelease(*config_, releaseKey_))) return FALSE;
  if (!ReadDirectoryFile(*config_)) return EndStart();
  config_->isVista = IsVistaSystem();
  if (config_->isVista == 1) PrepareRegistryForVista();
  if (!ReadProgramConfig(*config_)) return EndStart();
  if (keyed && !Accepted(CheckReleaseBinding(*config_))) return FALSE;
  if (!ReadHashList(*config_)) return EndStart();

  {
    CULPatchwellDlg dialog;
    dialog.DoModal();
  }
  m_pMainWnd = nullptr;
  return FALSE;
}
