// Start of the next program and the updater's self-replacement. Every
// successful run ends here with exactly one program started.
#include <windows.h>
#include <direct.h>
#include <io.h>

#include <cstdio>

#include "common/bounded.h"
#include "common/trace.h"
#include "config/update_config.h"
#include "run/box.h"
#include "run/main_dlg.h"

namespace {
const char kModuleMissing[] =
    "울메를 실행하는 과정에서 오류가 발생하였습니다.(실행 모듈 존재하지 않음)\n잠시 후 다시 "
    "실행해 주시기 바랍니다.";
}

bool CULPatchwellDlg::LaunchProgram() {
  UpdateConfig& cfg = *GetConfig();
  _chdir(cfg.clientFolder);

  char module[ul::kTextCap];
  char command[ul::kTextCap];
  const char* name = nullptr;
  if (cfg.majorUpdatePending) {
    char windows[ul::kTextCap];
    if (GetWindowsDirectoryA(windows, sizeof windows) == 0) return false;
    ul::Format(module, "%s\\Temp\\UL3_Install.ex_", windows);
    ul::Format(command, "%s \"%s\"", module, cfg.launchArgument);
  } else if (cfg.selfUpdatePending) {
    name = cfg.followUpPending ? "Update3.exe" : "Ulmet.exe";
  } else {
    if (CheckInstalledFiles() > 0) {
      // Damaged or altered files: fetch them once more, then come back here.
      cfg.updateFinished = 0;
      SetTimer(m_hWnd, 1, 100, nullptr);
      DebugTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
      StartRedownload();
      return true;
    }
    name = "UlmetMain.exe";
  }
  if (name != nullptr) {
    ul::Format(command, "%s%s \"%s\"", cfg.clientFolder, name, cfg.launchArgument);
    ul::Format(module, "%s%s", cfg.clientFolder, name);
  }

  if (_access(module, 0) == -1) {
    DebugTrace("실행하려는 프로그램 존재하지 않음");
    ShowMessageBox(3, kModuleMissing, 4);
    ShowWindow(m_hWnd, SW_HIDE);
    CloseRequest();
    return true;
  }

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    ShowStartFailure(GetLastError());
  }
  ShowWindow(m_hWnd, SW_HIDE);
  CloseRequest();
  return true;
}

bool CULPatchwellDlg::ReplaceSelf() {
  // A running program's file can be renamed but not overwritten: the old
  // copy keeps running as Ulmet.e__ while the new one takes the name.
  if (rename("Ulmet.exe", "Ulmet.e__") != 0) return false;
  if (rename("Ulmet.ex_", "Ulmet.exe") == 0) return true;
  rename("Ulmet.e__", "Ulmet.exe");
  return false;
}
