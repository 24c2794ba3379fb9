// The crash report's encoders against small models written here: the form
// encoding with every capacity, the CR LF conversion, the uid and the name
// test of crash logs, and the whole report body.
#include "crash/form_encode.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crash/crash_log.h"
#include "fuzz_support.h"

namespace {

// The encoding of one byte: itself, '+' for a blank, or %XX.
std::string EncodeByte(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
      std::strchr("*-.@_", c) != nullptr) {
    return std::string(1, static_cast<char>(c));
  }
  if (c == ' ') return "+";
  static const char kHex[] = "0123456789ABCDEF";
  return std::string{'%', kHex[c / 16], kHex[c % 16]};
}

// Whole characters only, as many as fit before the terminator.
std::string EncodeModel(const std::string& text, int capacity) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\0') break;
    const std::string piece = EncodeByte(c);
    if (out.size() + piece.size() > static_cast<std::size_t>(capacity) - 1) break;
    out += piece;
  }
  return out;
}

std::string CrLfModel(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

// A summary field: any bytes but zero, cut to its capacity.
void FillField(FuzzedDataProvider& in, char* field, std::size_t cap) {
  std::string s = in.ConsumeRandomLengthString(cap - 1);
  s = s.substr(0, s.find('\0'));
  std::memcpy(field, s.c_str(), s.size() + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int capacity = in.ConsumeIntegralInRange<int>(1, 4096);
  const bool tiny = in.ConsumeBool();
  CrashLogFields fields;
  FillField(in, fields.ver, sizeof fields.ver);
  FillField(in, fields.fadd, sizeof fields.fadd);
  FillField(in, fields.fmod, sizeof fields.fmod);
  FillField(in, fields.ladd, sizeof fields.ladd);
  FillField(in, fields.lmod, sizeof fields.lmod);
  const std::string uidName = in.ConsumeRandomLengthString(300);
  const std::string text = in.ConsumeRemainingBytesAsString();
  const std::string cText = text.substr(0, text.find('\0'));

  // Exactly the capacity, so that a write past it is an ASan report.
  const int cap = tiny ? capacity % 8 + 1 : capacity;
  std::vector<char> out(static_cast<std::size_t>(cap), 'x');
  FormEncode(out.data(), cap, cText.c_str());
  FUZZ_CHECK(std::string(out.data()) == EncodeModel(cText, cap), cText);

  FUZZ_CHECK(ToCrLf(text.data(), text.size()) == CrLfModel(text), text);

  const std::string name = uidName.substr(0, uidName.find('\0'));
  FUZZ_CHECK(
      IsCrashLogName(name.c_str()) == (Lower(name).find("_exception.log") != std::string::npos),
      name);
  char uid[64];
  const std::size_t uidCap = 1 + static_cast<std::size_t>(capacity) % sizeof uid;
  CrashLogUid(name.c_str(), uid, uidCap);
  const std::size_t underscore = name.rfind('_');
  const std::string uidModel =
      underscore == std::string::npos ? "" : name.substr(0, std::min(underscore, uidCap - 1));
  FUZZ_CHECK(uidModel == uid, name);

  const std::string body = BuildCrashReportBody(uid, fields, text.data(), text.size());
  const std::string expected = "uid=" + uidModel + "&fver=ulmet3&ver=" + fields.ver +
                               "&fadd=" + fields.fadd + "&fmod=" + fields.fmod +
                               "&ladd=" + fields.ladd + "&lmod=" + fields.lmod +
                               "&conts=" + EncodeModel(CrLfModel(cText), 1 << 30);
  FUZZ_CHECK(body == expected, text);
  return 0;
}
