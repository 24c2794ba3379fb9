// Bounded text helpers shared by every subsystem of the updater.
//
// Paths and command lines are composed into fixed buffers: 1025 bytes for
// texts (at most 1024 characters) and 261 bytes for paths. Longer results are
// cut, never overrun. Values that come from the command line, files, the
// registry or the network are always passed as arguments, never as the
// format, so a '%' in them is an ordinary character.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace ul {

constexpr std::size_t kTextCap = 1025;  // 1024 characters + terminator
constexpr std::size_t kPathCap = 261;   // MAX_PATH

// Formats into dst (capacity cap, including the terminator). The result is
// always terminated; text beyond cap-1 characters is cut. Returns the number
// of characters written (not counting the terminator).
std::size_t FormatBounded(char* dst, std::size_t cap, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
std::size_t FormatBoundedV(char* dst, std::size_t cap, const char* fmt, va_list ap);

// Copies src into dst (capacity cap), cut to cap-1 characters and always
// terminated. A null src gives an empty text. Returns the copied length.
std::size_t CopyBounded(char* dst, std::size_t cap, const char* src);

// Appends src to the text already in dst, cut to fit. Returns the new length.
std::size_t AppendBounded(char* dst, std::size_t cap, const char* src);

template <std::size_t N>
std::size_t Format(char (&dst)[N], const char* fmt, ...) __attribute__((format(printf, 2, 3)));

template <std::size_t N>
std::size_t Format(char (&dst)[N], const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::size_t n = FormatBoundedV(dst, N, fmt, ap);
  va_end(ap);
  return n;
}

template <std::size_t N>
std::size_t Copy(char (&dst)[N], const char* src) {
  return CopyBounded(dst, N, src);
}

template <std::size_t N>
std::size_t Append(char (&dst)[N], const char* src) {
  return AppendBounded(dst, N, src);
}

// Case-insensitive comparisons that fold only the ASCII letters, as the C
// runtime's _stricmp does in the "C" locale; bytes above 0x7F compare as
// they stand.
int CompareNoCase(const char* a, const char* b);
bool EqualsNoCase(const char* a, const char* b);
bool EndsWithNoCase(const char* text, const char* suffix);

}  // namespace ul
