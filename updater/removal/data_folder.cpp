#include "removal/data_folder.h"

namespace ul {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Skips one component (up to the next separator or the end); false when it
// is empty.
bool SkipComponent(const char** p) {
  const char* start = *p;
  while (**p != '\0' && !IsSeparator(**p)) ++*p;
  return *p > start;
}
}  // namespace

bool IsBelowRoot(const char* folder) {
  if (folder == nullptr) return false;
  const char* p = folder;
  if (IsLetter(p[0]) && p[1] == ':' && IsSeparator(p[2])) {
    p += 3;
  } else if (IsSeparator(p[0]) && IsSeparator(p[1])) {
    p += 2;
    const char* host = p;
    if (!SkipComponent(&p)) return false;
    if ((host[0] == '?' || host[0] == '.') && p == host + 1) return false;  // device path
    if (*p == '\0') return false;
    ++p;
    if (!SkipComponent(&p)) return false;  // share
  } else {
    return false;
  }

  int depth = 0;
  while (*p != '\0') {
    if (IsSeparator(*p)) {
      ++p;
      continue;
    }
    int dots = 0;
    bool onlyDotsAndBlanks = true;
    for (; *p != '\0' && !IsSeparator(*p); ++p) {
      if (*p == ':') return false;
      if (*p == '.')
        ++dots;
      else if (*p != ' ')
        onlyDotsAndBlanks = false;
    }
    if (!onlyDotsAndBlanks)
      ++depth;
    else if (dots >= 2 && depth > 0)
      --depth;
  }
  return depth > 0;
}

}  // namespace ul
