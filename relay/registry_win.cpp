#include "registry_win.h"

#include <cstring>

#include "bvx_trace.h"
#include "owned_win.h"
#include "relay_text.h"

namespace bvx {

int isVista = 0;

namespace {

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

const char kUlmetBase[] = "Software\\ULMET";
const char kUlmet3Base[] = "Software\\ULMET3";
const char kOldBase[] = "Software\\Zolte\\ULMET3";
const char kMainKey[] = "Main";

struct BaseCandidate {
  HKEY hive;
  const char* base;
  const char* label;
};

// The client's key moved twice over its versions; on Vista the client keeps
// it under the current user, older installations left it in the machine.
const BaseCandidate kVistaOrder[] = {
    {HKEY_CURRENT_USER, kUlmetBase, "SetRegKeySubPath::Vista_HKCU_ULMETPATH"},
    {HKEY_LOCAL_MACHINE, kUlmetBase, "SetRegKeySubPath::Vista_HKLM_ULMETPATH"},
    {HKEY_CURRENT_USER, kUlmet3Base, "SetRegKeySubPath::Vista_HKCU_PATH"},
    {HKEY_LOCAL_MACHINE, kUlmet3Base, "SetRegKeySubPath::Vista_HKLM_PATH"},
    {HKEY_CURRENT_USER, kOldBase, "SetRegKeySubPath::Vista_HKCU_OLDPATH"},
    {HKEY_LOCAL_MACHINE, kOldBase, "SetRegKeySubPath::Vista_HKLM_OLDPATH"},
};
const BaseCandidate kNonVistaOrder[] = {
    {HKEY_LOCAL_MACHINE, kUlmetBase, "SetRegKeySubPath::NonVista_HKLM_ULMETPATH"},
    {HKEY_LOCAL_MACHINE, kUlmet3Base, "SetRegKeySubPath::NonVista_HKLM_PATH"},
    {HKEY_LOCAL_MACHINE, kOldBase, "SetRegKeySubPath::NonVista_HKLM_OLDPATH"},
};

}  // namespace

int ReadRegString(HKEY hive, const char* subKey, const char* valueName, char (&buffer)[kRegValueCap]) {
  // The value may be stored without a terminator: query one byte less than
  // the buffer holds, into a zeroed buffer.
  ZeroMemory(buffer, sizeof buffer);
  RegKey key;
  if (RegOpenKeyA(hive, subKey, key.Receive()) != ERROR_SUCCESS) return 0;
  DWORD size = kRegValueCap - 1;
  const LONG rc = RegQueryValueExA(key.Get(), valueName, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
  if (rc != ERROR_SUCCESS) {
    buffer[0] = '\0';
    return 0;
  }
  return 1;
}

int RegKeyExists(HKEY hive, const char* base, const char* sub) {
  char name[kRegPathCap];
  CopyBounded(name, sizeof name, base);
  if (sub && sub[0] != '\0') {
    std::size_t n = std::strlen(name);
    if (n + 1 < sizeof name) {
      name[n] = '\\';
      CopyBounded(name + n + 1, sizeof name - n - 1, sub);
    }
  }
  RegKey key;
  return RegOpenKeyA(hive, name, key.Receive()) == ERROR_SUCCESS ? 1 : 0;
}

void CheckOsVersion() {
  char name[kRegValueCap];
  if (!ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                     "ProductName", name)) {
    Trace("CheckOsVersion_3");
    isVista = 0;
    return;
  }
  Trace("CheckOsVersion_1");
  if (name[0] == '\0') {
    Trace("CheckOsVersion_2");
    isVista = 0;
    return;
  }
  Trace("before MakeUpper");
  Trace(name);
  UpperAscii(name, IsLeadByte);
  Trace("after MakeUpper");
  Trace(name);
  if (NamesVista(name, IsLeadByte)) {
    Trace("CheckOsVersion_4");
    isVista = 1;
  } else {
    Trace("CheckOsVersion_5");
    isVista = 0;
  }
}

void SetRegKeySubPath(char (&path)[kRegPathCap]) {
  path[0] = '\0';
  const BaseCandidate* order = isVista ? kVistaOrder : kNonVistaOrder;
  const int count = isVista ? sizeof kVistaOrder / sizeof kVistaOrder[0]
                            : sizeof kNonVistaOrder / sizeof kNonVistaOrder[0];
  for (int i = 0; i < count; ++i) {
    if (RegKeyExists(order[i].hive, order[i].base, kMainKey)) {
      Trace(order[i].label);
      const std::size_t n = CopyBounded(path, sizeof path, order[i].base);
      if (n + 1 < sizeof path) {
        path[n] = '\\';
        CopyBounded(path + n + 1, sizeof path - n - 1, kMainKey);
      }
      return;
    }
  }
}

int GetRunningValue(const char* path, char (&value)[kRegValueCap]) {
  // The hive test looks at the newest base only, whichever base the path
  // came from: the client of that generation is the one that runs on Vista.
  HKEY hive;
  if (isVista) {
    if (RegKeyExists(HKEY_CURRENT_USER, kUlmetBase, kMainKey)) {
      Trace("GetRunningValue::Vista-HKCU");
      hive = HKEY_CURRENT_USER;
    } else {
      Trace("GetRunningValue::Vista-HKLM");
      hive = HKEY_LOCAL_MACHINE;
    }
  } else {
    Trace("GetRunningValue::NonVista-HKLM");
    hive = HKEY_LOCAL_MACHINE;
  }
  if (!ReadRegString(hive, path, "Running", value)) {
    Trace("GetRunningValue]실패");
    return 0;
  }
  Trace("GetRunningValue]성공");
  Trace(value);
  return std::strcmp(value, "1") == 0 ? 1 : 0;
}

}  // namespace bvx
