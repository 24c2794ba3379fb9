#include "report_text.h"

#include <iconv.h>

#include <cerrno>

namespace ulr {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Code page 949 to UTF-8, every undecodable byte as U+FFFD.
std::string FromCp949(std::string_view in) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "CP949");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter on this system: ASCII stays, the rest is unreadable.
    for (char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) out += c;
      else out += kReplacement;
    }
    return out;
  }
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  std::size_t used = 0;
  while (srcLeft > 0) {
    if (out.size() - used < 16) out.resize(out.size() * 2);
    char* dst = &out[used];
    std::size_t dstLeft = out.size() - used;
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {
      // EILSEQ or EINVAL (a sequence cut at the end): skip one byte.
      if (out.size() - used < 3) out.resize(out.size() * 2);
      out.replace(used, 3, kReplacement, 3);
      used += 3;
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

}  // namespace

std::string DisplayText(std::string_view cp949) {
  const std::string utf8 = FromCp949(cp949);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) out += kReplacement;
    else out += static_cast<char>(c);
  }
  return out;
}

std::string HtmlEscape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 8);
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string CsvCell(std::string_view utf8) {
  std::string out = "\"";
  if (!utf8.empty() && (utf8[0] == '=' || utf8[0] == '+' || utf8[0] == '-' || utf8[0] == '@' ||
                        utf8[0] == '\t' || utf8[0] == '\r'))
    out += '\'';
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string JsonString(std::string_view utf8) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == '<' || c == '>' || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

}  // namespace ulr
