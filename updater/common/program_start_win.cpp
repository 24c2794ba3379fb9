#include "common/program_start_win.h"

#include <windows.h>

#include "common/bounded.h"
#include "common/owned_win.h"

namespace {

void ShowStartFailure(DWORD error) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<char*>(&text), 0, nullptr);
  MessageBoxA(nullptr, text ? text : "", "Patchwell 실행 오류!!", MB_ICONINFORMATION);
  if (text) LocalFree(text);
}

}  // namespace

bool StartProgram(const char* commandLine) {
  // CreateProcessA may write into the command line, so it gets a copy.
  char command[ul::kTextCap];
  ul::Copy(command, commandLine);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ShowStartFailure(GetLastError());
    return false;
  }
  ul::Handle thread(pi.hThread);
  ul::Handle process(pi.hProcess);
  return true;
}
