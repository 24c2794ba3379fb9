#include "run/relay_swap.h"

#include <windows.h>

#include <cstdio>

#include "common/program_start_win.h"
#include "common/trace.h"
#include "run/run_paths.h"

namespace {

const char kRegistrar[] = "regsvr32.exe";
// How long putting the component back waits for the unregistration that
// setting it aside started, so that it cannot undo the new registration.
constexpr DWORD kUnregistrationWait = 10000;  // ms

}  // namespace

bool RelaySwap::SetAside(const char* path) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
    return true;
  char command[ul::kTextCap];
  ul::Format(command, "regsvr32 -u -s \"%s\"", path);
  StartSystemProgram(kRegistrar, command, &unregistration_);
  if (ClientPath(kRelayAside, aside_) && rename(path, aside_) == 0) {
    ul::Copy(path_, path);
    setAside_ = true;
    return true;
  }
  DebugTrace("bvx dll rename 실패");
  return false;
}

void RelaySwap::PutBack() {
  if (!setAside_) return;
  setAside_ = false;
  if (unregistration_) WaitForSingleObject(unregistration_.Get(), kUnregistrationWait);
  if (rename(aside_, path_) != 0) {
    DebugTrace("bvx dll restore failed : %s", aside_);
    return;
  }
  DebugTrace("bvx dll restored : %s", path_);
  RegisterRelay(path_);
}

void RegisterRelay(const char* path, ul::Handle* process) {
  char command[ul::kTextCap];
  ul::Format(command, "regsvr32 -s \"%s\"", path);
  StartSystemProgram(kRegistrar, command, process);
  DebugTrace("%s", command);
}
