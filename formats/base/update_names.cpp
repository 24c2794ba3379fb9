#include "formats/base/update_names.h"

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"

namespace ul {

std::string UpdateNameKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '!') c = ' ';
    if (c == '\\') c = '/';
  }
  return key;
}

bool IsUpdateFileName(const std::string& name) {
  if (name.empty() || name.size() >= kPathCap || name.back() == '/' || name.back() == '\\') return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return IsSafeRelativePath(name.c_str());
}

}  // namespace ul
