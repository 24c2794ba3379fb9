// The update sequence: the decision spine of a run. Runs once, on the
// user-interface thread, inside the dialog's initialisation, so every box it
// shows is on screen before the dialog itself.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

#include "formats/base/bounded.h"
#include "common/trace.h"
#include "formats/base/web_address.h"
#include "intake/intake.h"
#include "config/update_config.h"
#include "crash/crash_upload_win.h"
#include "net/held_file_win.h"
#include "net/http_downloader_win.h"
#include "run/app.h"
#include "removal/previous_version_win.h"
#include "run/main_dlg.h"
#include "run/release_refusal.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"

namespace {
const char kListFailed[] =
    "업데이트 파일 목록을 설정하는데 실패하였습니다.\n잠시 후 다시 실행해 주시기 바랍니다.";
const char kClientRunning[] =
    "울메가 새로운 버전으로 업데이트 되었습니다.\n현재 실행중인 울메를 종료하시고 다시 실행해 주시기 바랍니다.";

}  // namespace

// Both bars full: shown while the run ends without a worker.
static void FillBars(CULPatchwellDlg* dlg) {
  SendMessageA(dlg->PerFileBar(), PBM_SETPOS, kStepsPerFile, 0);
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 100, 0);
}

static void ProcessList(CULPatchwellDlg* dlg, const UpdateConfig& cfg);

// The service is under maintenance: the run ends at once and the notice
// page opens.
static void EndForMaintenance(CULPatchwellDlg* dlg, const UpdateConfig& cfg) {
  SetStatus(cfg.program.checkupMode == 1 ? "\n현재 서비스 정기점검 중입니다."
                                 : "\n현재 서비스 임시점검 중입니다.");
  FillBars(dlg);
  ShowWindow(dlg->Window(), SW_HIDE);
  dlg->CloseRequest();
  // The address comes from the server; the shell would open a program or
  // a document just as readily as a page.
  if (ul::IsWebAddress(cfg.program.checkupNotice))
    ShellExecuteA(nullptr, "open", cfg.program.checkupNotice, nullptr, nullptr, SW_SHOW);
  else
    DebugTrace("RunUpdateSequence: notice address is not a web address, not opened: %s",
               cfg.program.checkupNotice);
}

int CULPatchwellDlg::RemovePreviousVersion() { return RemoveEarlierVersion(*GetConfig()); }

void CULPatchwellDlg::RunUpdateSequence() {
  UpdateConfig& cfg = *GetConfig();

  // 1. Maintenance: only the notice page, nothing else is touched.
  if (cfg.program.checkupMode == 1 || cfg.program.checkupMode == 2) {
    EndForMaintenance(this, cfg);
    return;
  }

  // 2. First run: a gap in the installation data means a full installation.
  int firstRun = CheckFirstRun();
  if (firstRun != 0) {
    char text[ul::kTextCap];
    ul::Format(text, "울메 설치를 시작합니다.(#%d)", firstRun);
    ShowMessageBox(ul::kBoxInformation, text);
  }

  // 3. Full installation requested by the first-run check.
  if (cfg.majorUpdatePending) {
    StartWorker(UpdateWorkerProc, 1);
    return;
  }

  // 4.-5. The client folder is known now.
  RemoveLeftovers();
  if (RemovePreviousVersion() == 0) {
    CloseRequest();
    return;
  }

  // 6. The update list.
  SetStatus("\n업데이트에 사용될 데이터를 초기화 합니다.");
  updateList.ClearFileList();
  if (!ReadUpdateList()) {
    if (cfg.releaseRefusal != 0)
      ShowReleaseRefusal(cfg.releaseRefusal);
    else
      ShowMessageBox(ul::kBoxError, kListFailed);
    CloseRequest();
    return;
  }

  // 7. The list asked for a full installation: it wins over a running client.
  if (cfg.majorUpdatePending) {
    StartWorker(UpdateWorkerProc, 2);
    return;
  }

  ProcessList(this, cfg);
}

// 8. Nothing to update: straight to the launch step. 9. Entries to process,
// unless the client runs: files in use cannot be replaced.
static void ProcessList(CULPatchwellDlg* dlg, const UpdateConfig& cfg) {
  if (dlg->updateList.entryCount == 0) {
    if (cfg.program.crashReportEnabled) UploadCrashReports();
    SetStatus("\n울메에 접속중입니다...");
    FillBars(dlg);
    dlg->LaunchProgram();
  } else if (cfg.clientRunning) {
    ShowMessageBox(ul::kBoxError, kClientRunning);
    dlg->CloseRequest();
  } else {
    dlg->StartWorker(UpdateWorkerProc, 3);
  }
}

bool CULPatchwellDlg::StartWorker(AFX_THREADPROC proc, int errorCode) {
  if (AfxBeginThread(proc, this)) return true;
  char text[ul::kTextCap];
  ul::Format(text,
             "울메 업데이트를 하는 과정에서 오류가 발생하였습니다.(code-TH%02d)\n잠시 후 다시 "
             "실행해 주시기 바랍니다.",
             errorCode);
  ShowMessageBox(ul::kBoxError, text);
  CloseRequest();
  return false;
}

bool CULPatchwellDlg::ReadUpdateList() {
  SetStatus("\n버전 확인 및 업데이트 목록을 읽고 있습니다.");
  if (!::ReadUpdateList(*GetConfig(), updateList)) return false;
  char status[ul::kTextCap];
  ul::Format(status, "\n0/%d 업데이트를 준비중입니다..", updateList.entryCount);
  SetStatus(status);
  return true;
}
