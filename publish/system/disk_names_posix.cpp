// Debian: the system's names are UTF-8 bytes, the tree's are the code page
// 949 bytes themselves.
#include "system/disk_names.h"

#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>

namespace ulp {

namespace {

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

// The whole text converted, or false.
bool Convert(const char* to, const char* from, const std::string& text, std::string* out) {
  if (IsAscii(text)) {
    *out = text;
    return true;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(text.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* o = &result[0];
  size_t outLeft = result.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inLeft != 0) return false;
  result.resize(result.size() - outLeft);
  *out = result;
  return true;
}

}  // namespace

bool Utf8ToCp949(const std::string& utf8, std::string* cp949) { return Convert("CP949", "UTF-8", utf8, cp949); }

bool ClientName(const fs::path& relative, std::string* cp949) {
  return Utf8ToCp949(relative.generic_string(), cp949);
}

fs::path TreePath(const fs::path& root, const std::string& cp949) { return root / cp949; }

fs::path ArgPath(const char* arg) { return fs::path(arg); }

bool ArgName(const char* arg, std::string* cp949) { return Utf8ToCp949(arg, cp949); }

std::string Shown(const std::string& cp949) {
  std::string utf8;
  return Convert("UTF-8", "CP949", cp949, &utf8) ? utf8 : cp949;
}

std::string Shown(const fs::path& path) { return path.string(); }

bool NarrowPath(const fs::path& path, std::string* narrow) {
  *narrow = path.string();
  return true;
}

bool IsLink(const fs::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool LocalModifiedTime(const fs::path& path, std::tm* local) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return localtime_r(&st.st_mtime, local) != nullptr;
}

OwnedFile OpenFile(const fs::path& path, const char* mode) { return OwnedFile(std::fopen(path.c_str(), mode)); }

}  // namespace ulp
