#include "formats/base/text_line.h"

#include <climits>
#include <cstring>

namespace ul {

bool ReadTextLine(std::FILE* file, char* buf, std::size_t cap) {
  if (buf == nullptr || cap == 0) return false;
  buf[0] = '\0';
  if (file == nullptr || cap < 2) return false;
  std::size_t n = 0;
  while (n + 1 < cap) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (c == kEndOfText) {
      // Put back, so that every later read ends here too.
      std::ungetc(c, file);
      break;
    }
    if (c == '\r') {
      // The whole run of CRs decides: before a line feed it belongs to the
      // line end, so a text-mode stream's CR LF -> LF (one CR fewer) never
      // changes what is read.
      std::size_t run = 1;
      int next;
      while ((next = std::getc(file)) == '\r') ++run;
      if (next == '\n') {
        c = '\n';
      } else {
        if (next != EOF) std::ungetc(next, file);
        // Text: as many of the CRs as this piece holds (c is the last).
        for (; run > 1 && n + 2 < cap; --run) buf[n++] = '\r';
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return n > 0;
}

void StripNewline(char* line) {
  if (line == nullptr) return;
  std::size_t len = std::strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
}

int32_t ParseDecimal(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

bool ParseWholeNumber(const char* text, uint64_t* out) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 20) return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *out = v;
  return true;
}

bool NextBufferLine(const char* data, std::size_t size, std::size_t* at, std::string* line) {
  if (*at >= size) return false;
  const char* end = static_cast<const char*>(std::memchr(data + *at, '\n', size - *at));
  line->assign(data + *at, static_cast<std::size_t>(end - (data + *at)));
  *at = static_cast<std::size_t>(end - data) + 1;
  return true;
}

}  // namespace ul
