#include "formats/base/web_address.h"

namespace ul {

namespace {
// True when text starts with scheme, compared without regard to ASCII case.
bool StartsWithNoCase(const char* text, const char* scheme) {
  for (; *scheme != '\0'; ++text, ++scheme) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *scheme) return false;
  }
  return true;
}
}  // namespace

bool IsWebAddress(const char* text) {
  if (text == nullptr) return false;
  const char* rest;
  if (StartsWithNoCase(text, "http://"))
    rest = text + 7;
  else if (StartsWithNoCase(text, "https://"))
    rest = text + 8;
  else
    return false;
  if (*rest == '\0') return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p <= ' ' || *p == '"' || *p == 0x7F) return false;
  }
  return true;
}

}  // namespace ul
