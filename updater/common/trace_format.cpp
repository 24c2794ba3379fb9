#include "formats/base/bounded.h"
#include "common/trace.h"

namespace ul {

std::size_t FormatTraceLine(char* dst, const char* fmt, va_list ap) {
  // Leave room for the line feed and the terminator.
  std::size_t n = FormatBoundedV(dst, kTraceCap - 1, fmt, ap);
  dst[n] = '\n';
  dst[n + 1] = '\0';
  return n + 1;
}

}  // namespace ul
