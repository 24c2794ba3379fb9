#include "fuzz_support.h"

#include <cstdarg>
#include <cstdlib>

#include "common/trace.h"

// The portable code traces through DebugTrace; the fuzz programs format each
// line (so that the formatting runs under the sanitizers too) and drop it.
void DebugTrace(const char* fmt, ...) {
  char line[ul::kTraceCap];
  va_list ap;
  va_start(ap, fmt);
  const std::size_t n = ul::FormatTraceLine(line, fmt, ap);
  va_end(ap);
  if (n == 0 || n >= ul::kTraceCap || line[n - 1] != '\n' || line[n] != '\0') {
    ::fuzz::Fail(__FILE__, __LINE__, "trace line formed", line);
  }
}

namespace fuzz {

ByteStream::ByteStream(const uint8_t* data, std::size_t size) {
  // fmemopen refuses a zero size; an empty stream reads like an empty file.
  static char none[1];
  file_ = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "r") : fmemopen(none, 1, "r");
  if (file_ != nullptr && size == 0) std::fgetc(file_);
  if (file_ == nullptr) Fail(__FILE__, __LINE__, "fmemopen", "");
}

ByteStream::~ByteStream() { std::fclose(file_); }

std::string TextOf(const uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

std::string Shown(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t run = 1;
    while (i + run < text.size() && text[i + run] == text[i]) ++run;
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 15];
    }
    // Long runs (a thousand form feeds) are shown with their count.
    if (run > 8) {
      shown += "{" + std::to_string(run) + "}";
      i += run;
    } else {
      ++i;
    }
  }
  return shown;
}

void Fail(const char* file, int line, const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n%s:%d: property broken: %s\n  %s\n", file, line, what,
               Shown(detail).c_str());
  std::abort();
}

}  // namespace fuzz
