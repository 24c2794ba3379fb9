#include "crash/form_encode.h"

#include <climits>
#include <cstring>
#include <vector>

#include "formats/base/bounded.h"
#include "crash/crash_log.h"

namespace {

bool StaysUnchanged(unsigned char c) {
  return c == '*' || c == '-' || c == '.' || c == '@' || c == '_' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

char* FormEncode(char* out, int capacity, const char* text) {
  if (out == nullptr || capacity <= 0) return out;
  static const char kHex[] = "0123456789ABCDEF";
  int pos = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : ""); *p != '\0';
       ++p) {
    const unsigned char c = *p;
    if (c == ' ' || StaysUnchanged(c)) {
      if (pos + 1 >= capacity) break;
      out[pos++] = c == ' ' ? '+' : static_cast<char>(c);
    } else {
      if (pos + 3 >= capacity) break;
      out[pos++] = '%';
      out[pos++] = kHex[c >> 4];
      out[pos++] = kHex[c & 0x0f];
    }
  }
  out[pos] = '\0';
  return out;
}

bool IsCrashLogName(const char* fileName) {
  if (fileName == nullptr) return false;
  std::string lower(fileName);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find("_exception.log") != std::string::npos;
}

void CrashLogUid(const char* fileName, char* uid, std::size_t cap) {
  if (uid == nullptr || cap == 0) return;
  uid[0] = '\0';
  if (fileName == nullptr) return;
  const char* underscore = std::strrchr(fileName, '_');
  if (underscore == nullptr) return;
  std::size_t n = static_cast<std::size_t>(underscore - fileName);
  if (n > cap - 1) n = cap - 1;
  std::memcpy(uid, fileName, n);
  uid[n] = '\0';
}

std::string ToCrLf(const char* contents, std::size_t length) {
  std::string out;
  if (contents == nullptr) return out;
  out.reserve(length + length / 8);
  for (std::size_t i = 0; i < length; ++i) {
    if (contents[i] == '\n') out += '\r';
    out += contents[i];
  }
  return out;
}

std::string BuildCrashReportBody(const char* uid, const CrashLogFields& fields,
                                 const char* contents, std::size_t length) {
  // The encoding buffer holds three bytes for every byte of the converted
  // text, so the whole log always fits.
  std::string text = ToCrLf(contents, length);
  if (text.size() > (INT_MAX - 1) / 3) text.resize((INT_MAX - 1) / 3);
  std::vector<char> encoded(3 * text.size() + 1);
  FormEncode(encoded.data(), static_cast<int>(encoded.size()), text.c_str());

  std::string body;
  body.reserve(std::strlen(encoded.data()) + 2200);
  body += "uid=";
  body += uid ? uid : "";
  body += "&fver=ulmet3&ver=";
  body += fields.ver;
  body += "&fadd=";
  body += fields.fadd;
  body += "&fmod=";
  body += fields.fmod;
  body += "&ladd=";
  body += fields.ladd;
  body += "&lmod=";
  body += fields.lmod;
  body += "&conts=";
  body += encoded.data();
  return body;
}
