// Start of the next program and the updater's self-replacement. Every
// successful run ends here with exactly one program started.
#include <windows.h>
#include <direct.h>
#include <io.h>

#include <cstdio>

#include "formats/base/bounded.h"
#include "common/trace.h"
#include "config/update_config.h"
#include "run/main_dlg.h"
#include "run/run_paths.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"
#include "common/program_start_win.h"

namespace {
const char kModuleMissing[] =
    "울메를 실행하는 과정에서 오류가 발생하였습니다.(실행 모듈 존재하지 않음)\n잠시 후 다시 "
    "실행해 주시기 바랍니다.";
}

namespace {
// Marks the launch step as running for as long as it lasts.
class StepRunning {
 public:
  explicit StepRunning(bool& flag) : flag_(flag) { flag_ = true; }
  ~StepRunning() { flag_ = false; }
  StepRunning(const StepRunning&) = delete;
  StepRunning& operator=(const StepRunning&) = delete;

 private:
  bool& flag_;
};
}  // namespace

bool CULPatchwellDlg::LaunchProgram() {
  if (launchStepRunning_) {
    DebugTrace("LaunchProgram: the launch step is already running");
    return true;
  }
  StepRunning running(launchStepRunning_);
  UpdateConfig& cfg = *GetConfig();
  _chdir(cfg.clientFolder);

  char module[ul::kPathCap] = {0};
  char command[ul::kTextCap];
  const char* name = nullptr;
  if (cfg.majorUpdatePending) {
    if (!InstallerPath(module)) return false;
    ul::Format(command, "%s \"%s\"", module, cfg.launchArgument);
  } else if (cfg.selfUpdatePending) {
    name = cfg.followUpPending ? kFollowUpProgram : kUpdaterName;
  } else {
    const int differing = CheckInstalledFiles();
    // Closed during the comparison: the run ends here, nothing starts.
    if (Ended()) return true;
    if (differing > 0) {
      // Damaged or altered files: fetch them once more, then come back here.
      cfg.updateFinished = 0;
      SetTimer(m_hWnd, kStatusTimer, kStatusPeriod, nullptr);
      DebugTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
      StartRedownload();
      return true;
    }
    name = kClientModule;
  }
  // A client folder that cannot hold the program leaves module empty, and
  // the missing-module box below ends the run.
  if (name != nullptr && ClientPath(name, module)) {
    ul::Format(command, "%s \"%s\"", module, cfg.launchArgument);
  }

  if (module[0] == '\0' || _access(module, 0) == -1) {
    DebugTrace("실행하려는 프로그램 존재하지 않음");
    ShowMessageBox(ul::kBoxError, kModuleMissing, ul::kHelpLinkStartFailed);
    ShowWindow(m_hWnd, SW_HIDE);
    CloseRequest();
    return true;
  }

  StartProgram(module, command);
  heldInstaller.Close();
  ShowWindow(m_hWnd, SW_HIDE);
  CloseRequest();
  return true;
}

bool CULPatchwellDlg::ReplaceSelf() {
  // A running program's file can be renamed but not overwritten: the old
  // copy keeps running as Ulmet.e__ while the new one takes the name.
  char running[ul::kPathCap], newCopy[ul::kPathCap], oldCopy[ul::kPathCap];
  if (!ClientPath(kUpdaterName, running) || !ClientPath(kUpdaterNewCopy, newCopy) ||
      !ClientPath(kUpdaterOldCopy, oldCopy))
    return false;
  if (rename(running, oldCopy) != 0) return false;
  if (rename(newCopy, running) == 0) return true;
  rename(oldCopy, running);
  return false;
}
