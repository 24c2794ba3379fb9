#include "run/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"

bool IsProcessRunning(const char* exeName) {
  if (exeName == nullptr || exeName[0] == '\0') return false;
  ul::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    if (ul::EqualsNoCase(entry.szExeFile, exeName)) return true;
  }
  return false;
}
