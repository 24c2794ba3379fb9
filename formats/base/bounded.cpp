#include "formats/base/bounded.h"

#include <cstdio>
#include <cstring>

namespace ul {

std::size_t FormatBoundedV(char* dst, std::size_t cap, const char* fmt, va_list ap) {
  if (dst == nullptr || cap == 0) return 0;
  dst[0] = '\0';
  if (fmt == nullptr) return 0;
  int n = std::vsnprintf(dst, cap, fmt, ap);
  dst[cap - 1] = '\0';  // some C runtimes leave a cut result unterminated
  if (n < 0) {
    dst[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(n) < cap ? static_cast<std::size_t>(n) : cap - 1;
}

std::size_t FormatBounded(char* dst, std::size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::size_t n = FormatBoundedV(dst, cap, fmt, ap);
  va_end(ap);
  return n;
}

std::size_t CopyBounded(char* dst, std::size_t cap, const char* src) {
  if (dst == nullptr || cap == 0) return 0;
  std::size_t n = 0;
  if (src != nullptr) {
    while (n + 1 < cap && src[n] != '\0') {
      dst[n] = src[n];
      ++n;
    }
  }
  dst[n] = '\0';
  return n;
}

std::size_t AppendBounded(char* dst, std::size_t cap, const char* src) {
  if (dst == nullptr || cap == 0) return 0;
  std::size_t len = strnlen(dst, cap);
  if (len >= cap) {  // not terminated inside its buffer: repair, do not read on
    dst[cap - 1] = '\0';
    return cap - 1;
  }
  return len + CopyBounded(dst + len, cap - len, src);
}

static inline unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int CompareNoCase(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (;; ++a, ++b) {
    unsigned char ca = Lower(static_cast<unsigned char>(*a));
    unsigned char cb = Lower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == '\0') return 0;
  }
}

bool EqualsNoCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }

bool EndsWithNoCase(const char* text, const char* suffix) {
  if (text == nullptr || suffix == nullptr) return false;
  std::size_t lt = std::strlen(text), ls = std::strlen(suffix);
  return ls <= lt && CompareNoCase(text + (lt - ls), suffix) == 0;
}

}  // namespace ul
