#include "run/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include "common/bounded.h"

bool IsProcessRunning(const char* exeName) {
  if (exeName == nullptr || exeName[0] == '\0') return false;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (ul::EqualsNoCase(entry.szExeFile, exeName)) {
      found = true;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}
