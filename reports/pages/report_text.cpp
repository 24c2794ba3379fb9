#include "pages/report_text.h"

#include <iconv.h>

namespace ulr {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Code page 949 to UTF-8, every undecodable byte or pair as U+FFFD.
// Characters are split here, not by the converter: for a two-byte code its
// table lacks, the C library swallows both bytes yet reports an error, so
// after a failure its position cannot tell how much it consumed. A pair
// that does not decode costs one replacement and both bytes, unless its
// second byte is ASCII, which is then read on its own.
std::string FromCp949(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 2);
  iconv_t cd = iconv_open("UTF-8", "CP949");
  const bool canConvert = cd != reinterpret_cast<iconv_t>(-1);
  for (std::size_t i = 0; i < in.size();) {
    const unsigned char lead = static_cast<unsigned char>(in[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    const bool paired = lead != 0x80 && lead != 0xFF && i + 1 < in.size();
    char pair[2];
    char utf8[8];
    bool done = false;
    if (paired && canConvert) {
      pair[0] = in[i];
      pair[1] = in[i + 1];
      char* src = pair;
      std::size_t srcLeft = 2;
      char* dst = utf8;
      std::size_t dstLeft = sizeof utf8;
      done = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) && srcLeft == 0;
      if (done) out.append(utf8, sizeof utf8 - dstLeft);
      else iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    if (!done) out += kReplacement;
    i += paired && (done || static_cast<unsigned char>(in[i + 1]) >= 0x80) ? 2 : 1;
  }
  if (canConvert) iconv_close(cd);
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

std::string SymbolText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    for (std::size_t k = 1; n > 0 && k < n; ++k)
      if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) >> 6) != 2) n = 0;
    // Overlong forms and surrogates are not characters either.
    if (n == 2 && c < 0xC2) n = 0;
    if (n == 3 && ((c == 0xE0 && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) ||
                   (c == 0xED && static_cast<unsigned char>(utf8[i + 1]) >= 0xA0)))
      n = 0;
    if (n == 4 && (c > 0xF4 || (c == 0xF0 && static_cast<unsigned char>(utf8[i + 1]) < 0x90) ||
                   (c == 0xF4 && static_cast<unsigned char>(utf8[i + 1]) >= 0x90)))
      n = 0;
    if (n == 0 || (n == 1 && ((c < 0x20 && c != '\t') || c == 0x7F))) {
      out += kReplacement;
      ++i;
      continue;
    }
    out.append(utf8.data() + i, n);
    i += n;
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
