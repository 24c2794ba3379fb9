#include <windows.h>

#include "common/trace.h"

void DebugTrace(const char* fmt, ...) {
  char line[ul::kTraceCap];
  va_list ap;
  va_start(ap, fmt);
  ul::FormatTraceLine(line, fmt, ap);
  va_end(ap);
  OutputDebugStringA(line);
}
