#include "config/registry_win.h"

#include <cstring>
#include <vector>
#include <cwchar>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "common/trace.h"

namespace {

const char kMigratedKey[] = "Software\\Ulmet";

// Stores text (null as empty) as a string value.
void SetText(HKEY key, const char* valueName, const char* text) {
  const char* t = text ? text : "";
  RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(t),
                 static_cast<DWORD>(std::strlen(t)));
}

}  // namespace

HKEY RegistryRoot(int hive) { return hive == 2 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

bool ReadRegistryString(const char* key, const char* valueName, char* buffer, int hive) {
  if (buffer == nullptr) return false;
  buffer[0] = '\0';
  ul::RegKey hk;
  if (RegOpenKeyA(RegistryRoot(hive), key, hk.Receive()) != ERROR_SUCCESS) return false;
  // One byte more than the callers' buffers, so that a value filling all of
  // them still gets its terminator here and is cut to 1024 characters below.
  std::vector<char> data(ul::kTextCap + 1, '\0');
  DWORD size = ul::kTextCap;
  LONG rc = RegQueryValueExA(hk.Get(), valueName, nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &size);
  if (rc == ERROR_MORE_DATA) {
    // A longer value is read whole and then cut like any other text, so an
    // over-long folder is tested for existence by its first 1024 characters.
    data.assign(static_cast<size_t>(size) + 1, '\0');
    rc = RegQueryValueExA(hk.Get(), valueName, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(data.data()), &size);
  }
  if (rc != ERROR_SUCCESS) return false;
  data[size < data.size() ? size : data.size() - 1] = '\0';
  ul::CopyBounded(buffer, ul::kTextCap, data.data());
  return true;
}

bool WriteRegistryString(const char* key, const char* valueName, const char* text, int hive) {
  ul::RegKey hk;
  char noClass[] = "";
  if (RegCreateKeyExA(RegistryRoot(hive), key, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, hk.Receive(), nullptr) != ERROR_SUCCESS) {
    return true;  // callers do not act on a failed write
  }
  SetText(hk.Get(), valueName, text);
  return true;
}

bool RegistryKeyExists(const char* path, const char* subPath, int hive) {
  if (path == nullptr) return false;
  char name[1024];
  if (subPath != nullptr && subPath[0] != '\0') {
    ul::Format(name, "%s\\%s", path, subPath);
  } else {
    ul::Format(name, "%s", path);
  }
  ul::RegKey hk;
  return RegOpenKeyA(RegistryRoot(hive), name, hk.Receive()) == ERROR_SUCCESS;
}

std::string ReadRegistryText(const char* key, const char* valueName, bool currentUser) {
  char data[513] = {0};
  ul::RegKey hk;
  if (RegOpenKeyA(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key, hk.Receive()) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  DWORD size = 255;
  LONG rc =
      RegQueryValueExA(hk.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  if (rc != ERROR_SUCCESS) return std::string();
  data[size < sizeof(data) ? size : sizeof(data) - 1] = '\0';
  return std::string(data);
}

void WriteRegistryText(const char* key, const char* valueName, const char* text, bool currentUser) {
  ul::RegKey hk;
  if (RegCreateKeyExA(currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key, 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, hk.Receive(),
                      nullptr) == ERROR_SUCCESS) {
    SetText(hk.Get(), valueName, text);
  }
}

void CopyKeyTree(HKEY source, const char* destination) {
  const char* dest = destination ? destination : kMigratedKey;
  DWORD valueCount = 0;
  if (RegQueryInfoKeyA(source, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    valueCount = 0;
  }

  // Sub keys first. Each lands below the destination of its own parent, so
  // a tree of any depth keeps its shape (a flat "Software\Ulmet\<name>" for
  // every level would merge keys of equal names from different branches).
  char subName[260];
  for (DWORD i = 0; RegEnumKeyA(source, i, subName, sizeof(subName)) == ERROR_SUCCESS; ++i) {
    DebugTrace("%d) retCode = %d, achKey = %s", static_cast<int>(i), 0, subName);
    char subDest[ul::kTextCap];
    if (ul::Format(subDest, "%s\\%s", dest, subName) >= sizeof(subDest) - 1) continue;
    ul::RegKey sub;
    if (RegOpenKeyA(source, subName, sub.Receive()) != ERROR_SUCCESS) continue;
    WriteRegistryText(subDest, "", "", true);
    CopyKeyTree(sub.Get(), subDest);
  }

  for (DWORD i = 0; i < valueCount; ++i) {
    char name[512];
    char data[513];
    DWORD nameLen = sizeof(name);
    DWORD dataLen = 512;
    DWORD type = 0;
    if (RegEnumValueA(source, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &dataLen) != ERROR_SUCCESS) {
      continue;
    }
    data[dataLen <= 512 ? dataLen : 512] = '\0';
    DebugTrace("%d) achValue(%d) = %s, achBuff(%d) = %s", static_cast<int>(i),
               static_cast<int>(nameLen), name, static_cast<int>(dataLen), data);
    WriteRegistryText(dest, name, data, true);
  }
}

void CopyKey(const char* sourceParent, const char* sourceName, int sourceHive) {
  char name[ul::kTextCap];
  ul::Format(name, "%s\\%s", sourceParent ? sourceParent : "", sourceName ? sourceName : "");
  ul::RegKey hk;
  if (RegOpenKeyA(RegistryRoot(sourceHive), name, hk.Receive()) != ERROR_SUCCESS) return;
  CopyKeyTree(hk.Get(), nullptr);
}

long DeleteSubkeys(HKEY root, const char* path) {
  ul::RegKey hk;
  LONG rc = RegOpenKeyA(root, path, hk.Receive());
  if (rc != ERROR_SUCCESS) return rc;
  long result = 0;
  DWORD i = 0;
  for (;;) {
    char name[256];
    rc = RegEnumKeyA(hk.Get(), i, name, sizeof(name));
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      result = rc;
      break;
    }
    char child[ul::kTextCap];
    if (ul::Format(child, "%s\\%s", path, name) >= sizeof(child) - 1) {
      ++i;  // a cut name would address some other key
      continue;
    }
    // A deleted key's successor moves into its index; a key that stays
    // (its own sub keys or the deletion failed) is stepped over, or the
    // walk would never end.
    if (DeleteSubkeys(root, child) == 0 && RegDeleteKeyA(root, child) == ERROR_SUCCESS) continue;
    ++i;
  }
  return result;
}

void DeleteKeyTree(const char* parent, const char* keyName, int hive) {
  if (!RegistryKeyExists(parent, nullptr, hive) || keyName == nullptr || keyName[0] == '\0') return;
  ul::RegKey hk;
  if (RegOpenKeyA(RegistryRoot(hive), parent, hk.Receive()) != ERROR_SUCCESS) return;
  DeleteSubkeys(hk.Get(), keyName);
  RegDeleteKeyA(hk.Get(), keyName);
}

int IsVistaSystem() {
  char name[ul::kTextCap];
  if (!ReadRegistryString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName", name, 2) ||
      name[0] == '\0') {
    return 0;
  }
  // Upper case through UTF-16: in code page 949 a trail byte can look like a
  // Latin letter, which a byte-wise conversion would change.
  wchar_t wide[ul::kTextCap];
  int n = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, ul::kTextCap);
  if (n <= 0) return 0;
  wide[ul::kTextCap - 1] = L'\0';
  CharUpperBuffW(wide, static_cast<DWORD>(wcslen(wide)));
  return wcsstr(wide, L"VISTA") != nullptr ? 1 : 0;
}

void PrepareRegistryForVista() {
  if (!RegistryKeyExists("Software\\ULMET", nullptr, 2)) return;
  CopyKey("Software", "ULMET", 2);
  // Needs administrator rights; without them the machine's key stays and
  // the copy is made again on the next start.
  DeleteKeyTree("Software", "ULMET", 2);
}
