#include "trace_capture.h"

#include <cstdarg>
#include <mutex>

#include "common/trace.h"

namespace {

std::mutex gLock;
std::vector<std::string> gLines;

}  // namespace

void DebugTrace(const char* fmt, ...) {
  char line[ul::kTraceCap];
  va_list ap;
  va_start(ap, fmt);
  std::size_t n = ul::FormatTraceLine(line, fmt, ap);
  va_end(ap);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
  std::lock_guard<std::mutex> hold(gLock);
  gLines.emplace_back(line, n);
}

std::vector<std::string> ulp::TakeTraceLines() {
  std::lock_guard<std::mutex> hold(gLock);
  std::vector<std::string> out;
  out.swap(gLines);
  return out;
}
