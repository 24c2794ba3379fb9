// Prints registry keys with everything below them, sorted, one line per key
// and per value, so that a test can compare what registration wrote.
//
//   relay_regdump KEY...        KEY as HKCR\Name, HKLM\Name or HKCU\Name
//   relay_regdump --long PATH   prints the long form of a (short) path
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void DumpKey(HKEY key, const std::string& name) {
  printf("[%s]\n", name.c_str());
  std::vector<std::string> lines;
  for (DWORD i = 0;; ++i) {
    char value[512];
    DWORD valueLen = sizeof value;
    BYTE data[2048];
    DWORD dataLen = sizeof data - 1;
    DWORD type = 0;
    if (RegEnumValueA(key, i, value, &valueLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
    data[dataLen] = 0;
    std::string line = "  " + std::string(valueLen ? value : "@") + " = ";
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      line += "'" + std::string(reinterpret_cast<char*>(data)) + "'";
    } else if (type == REG_DWORD) {
      char n[32];
      snprintf(n, sizeof n, "dword:%lu", static_cast<unsigned long>(*reinterpret_cast<DWORD*>(data)));
      line += n;
    } else {
      line += "type " + std::to_string(type);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string& l : lines) printf("%s\n", l.c_str());

  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char child[512];
    DWORD len = sizeof child;
    if (RegEnumKeyExA(key, i, child, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(child);
  }
  std::sort(children.begin(), children.end());
  for (const std::string& c : children) {
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, c.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      DumpKey(sub, name + "\\" + c);
      RegCloseKey(sub);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--long") {
    char buf[MAX_PATH];
    const DWORD n = GetLongPathNameA(argv[2], buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    printf("%s\n", buf);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const std::string::size_type slash = arg.find('\\');
    const std::string hiveName = arg.substr(0, slash);
    const std::string path = slash == std::string::npos ? "" : arg.substr(slash + 1);
    HKEY hive = hiveName == "HKCR" ? HKEY_CLASSES_ROOT
                : hiveName == "HKLM" ? HKEY_LOCAL_MACHINE
                : hiveName == "HKCU" ? HKEY_CURRENT_USER
                                     : nullptr;
    if (!hive) return 2;
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      printf("[%s] missing\n", arg.c_str());
      continue;
    }
    DumpKey(key, arg);
    RegCloseKey(key);
  }
  return 0;
}
