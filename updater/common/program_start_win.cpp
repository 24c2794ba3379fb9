#include "common/program_start_win.h"

#include <windows.h>

#include <utility>

#include "formats/base/bounded.h"

namespace {

// How long a system program's start waits for it to be idle (or gone), as
// WinExec does: regsvr32 has then done its work.
constexpr DWORD kIdleWait = 30000;  // ms

void ShowStartFailure(DWORD error) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<char*>(&text), 0, nullptr);
  MessageBoxA(nullptr, text ? text : "", "Patchwell 실행 오류!!", MB_ICONINFORMATION);
  if (text) LocalFree(text);
}

bool Start(const char* module, const char* commandLine, ul::Handle* process, bool waitIdle) {
  // CreateProcessA may write into the command line, so it gets a copy.
  char command[ul::kTextCap];
  ul::Copy(command, commandLine);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(module, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  ul::Handle thread(pi.hThread);
  ul::Handle started(pi.hProcess);
  if (waitIdle) WaitForInputIdle(started.Get(), kIdleWait);
  if (process != nullptr) *process = std::move(started);
  return true;
}

}  // namespace

bool StartProgram(const char* module, const char* commandLine) {
  if (Start(module, commandLine, nullptr, false)) return true;
  ShowStartFailure(GetLastError());
  return false;
}

bool StartSystemProgram(const char* name, const char* commandLine, ul::Handle* process) {
  char folder[ul::kPathCap];
  const UINT n = GetSystemDirectoryA(folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) return false;
  char module[ul::kTextCap];
  ul::Format(module, "%s\\%s", folder, name);
  return Start(module, commandLine, process, true);
}
