#include "files/reparse_points_win.h"

#include <windows.h>

#include <cstring>

#include "formats/base/bounded.h"

namespace {

// Whether the file or folder at path exists and is a reparse point; *exists
// says whether it exists at all.
bool IsReparsePoint(const char* path, bool* exists) {
  const DWORD attributes = GetFileAttributesA(path);
  *exists = attributes != INVALID_FILE_ATTRIBUTES;
  return *exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool CrossesReparsePoint(const char* folder, const char* path) {
  const std::size_t skip = std::strlen(folder);
  char prefix[ul::kTextCap];
  if (ul::Copy(prefix, path) != std::strlen(path) || std::strlen(prefix) <= skip) return false;
  bool exists = true;
  for (std::size_t at = skip; prefix[at] != '\0'; ++at) {
    if (prefix[at] != '\\' || at == skip || prefix[at - 1] == '\\') continue;
    prefix[at] = '\0';
    const bool reparse = IsReparsePoint(prefix, &exists);
    prefix[at] = '\\';
    if (reparse) return true;
    if (!exists) return false;  // nothing below a missing folder exists either
  }
  return IsReparsePoint(prefix, &exists);
}
