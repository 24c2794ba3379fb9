#include "common/safe_path.h"

#include <cstring>

namespace ul {

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows drops trailing dots and blanks from a path component, so "...",
// ".. " and ". ." all climb out like "..": any component made only of dots
// and blanks with at least two dots counts as a parent reference.
static bool IsParentComponent(const char* begin, const char* end) {
  int dots = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '.') {
      ++dots;
    } else if (*p != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool StaysInsideFolder(const char* path) {
  if (path == nullptr) return false;
  if (std::strchr(path, ':') != nullptr) return false;
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      if (IsParentComponent(component, p)) return false;
      if (*p == '\0') break;
      component = p + 1;
    }
  }
  return true;
}

bool IsSafeRelativePath(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  if (IsSeparator(path[0])) return false;
  return StaysInsideFolder(path);
}

}  // namespace ul
