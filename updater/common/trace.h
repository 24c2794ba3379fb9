// The updater's one diagnostic channel: one line per call to the debugger
// output (OutputDebugStringA). There is no log file and no level.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace ul {

constexpr std::size_t kTraceCap = 8172;

// Formats one trace line into dst (kTraceCap bytes) and appends a line feed.
// A line longer than kTraceCap - 2 characters is cut so that the line feed
// and terminator still fit. Returns the length including the line feed.
// Portable, so the cut is tested natively too.
std::size_t FormatTraceLine(char* dst, const char* fmt, va_list ap);

}  // namespace ul

// Formats and sends one line to the debugger output.
void DebugTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
