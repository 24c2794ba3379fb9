#include "receive/report_form.h"

namespace ulr {

namespace {

// What the updater's form encoding leaves as it is.
bool StaysAsIs(unsigned char c) {
  return c == '*' || c == '-' || c == '.' || c == '@' || c == '_' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsFverByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' ||
         c == '_';
}

// One raw field: at most max bytes, none of them zero (the updater sends
// C strings).
bool TakeRaw(std::string_view body, std::size_t from, std::size_t to, std::size_t max, const char* name,
             std::string* out, std::string* why) {
  if (to - from > max) {
    *why = std::string(name) + " is wider than " + std::to_string(max) + " bytes";
    return false;
  }
  out->assign(body.substr(from, to - from));
  if (out->find('\0') != std::string::npos) {
    *why = std::string("a zero byte in ") + name;
    return false;
  }
  return true;
}

// The first place at or after from, and at most max bytes after it, where
// separator begins; npos when there is none.
std::size_t FindWithin(std::string_view body, std::string_view separator, std::size_t from, std::size_t max) {
  const std::size_t at = body.find(separator, from);
  return at != std::string_view::npos && at - from <= max ? at : std::string_view::npos;
}

// Between fmod and conts: fmod, "&ladd=", at most 8 bytes, "&lmod=", lmod.
void FindLaddLmod(std::string_view body, std::size_t from, std::size_t conts, std::size_t* ladd, std::size_t* lmod) {
  const std::size_t npos = std::string_view::npos;
  for (*ladd = from;; ++*ladd) {
    *ladd = body.find("&ladd=", *ladd);
    if (*ladd == npos || *ladd >= conts) break;
    *lmod = FindWithin(body, "&lmod=", *ladd + 6, kMaxOffsetBytes);
    if (*lmod != npos && *lmod + 6 <= conts) break;
    *lmod = npos;
  }
}

FormVerdict DecodeConts(std::string_view encoded, std::string* out, std::string* why) {
  out->clear();
  out->reserve(encoded.size());
  // The log's size once the CR before each line feed is gone again (all of
  // it when a line feed has none, see RestoreLog).
  std::size_t crLf = 0;
  bool loneLineFeed = false;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(encoded[i]);
    char byte;
    if (c == '+') {
      byte = ' ';
    } else if (c == '%') {
      const int hi = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
      const int lo = hi >= 0 ? HexValue(encoded[i + 2]) : -1;
      if (lo < 0) {
        *why = "a broken escape in conts at byte " + std::to_string(i);
        return FormVerdict::kBadEncoding;
      }
      byte = static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (StaysAsIs(c)) {
      byte = static_cast<char>(c);
    } else {
      *why = "byte " + std::to_string(c) + " in conts at " + std::to_string(i) + " is not form-encoded";
      return FormVerdict::kBadEncoding;
    }
    if (byte == '\n') {
      if (!out->empty() && out->back() == '\r') ++crLf;
      else loneLineFeed = true;
    }
    out->push_back(byte);
  }
  const std::size_t logBytes = loneLineFeed ? out->size() : out->size() - crLf;
  if (logBytes > kMaxLogBytes) {
    *why = "the log holds " + std::to_string(logBytes) + " bytes, above " + std::to_string(kMaxLogBytes);
    return FormVerdict::kLogTooLarge;
  }
  if (out->empty()) {
    *why = "the log is empty";
    return FormVerdict::kMalformed;
  }
  return FormVerdict::kOk;
}

}  // namespace

FormVerdict ParseReportForm(std::string_view body, ReportForm* form, std::string* why) {
  if (body.size() > kMaxBodyBytes) {
    *why = "the body is larger than any post of a log of at most " + std::to_string(kMaxLogBytes) + " bytes";
    return FormVerdict::kLogTooLarge;
  }
  const std::size_t npos = std::string_view::npos;
  if (body.substr(0, 4) != "uid=") {
    *why = "the body does not begin with uid=";
    return FormVerdict::kMalformed;
  }
  const std::size_t fver = body.find("&fver=", 4);
  if (fver == npos) {
    *why = "no fver field";
    return FormVerdict::kMalformed;
  }
  const std::size_t ver = body.find("&ver=", fver + 6);
  const std::size_t fadd = ver == npos ? npos : FindWithin(body, "&fadd=", ver + 5, kMaxVersionBytes);
  const std::size_t fmod = fadd == npos ? npos : FindWithin(body, "&fmod=", fadd + 6, kMaxOffsetBytes);
  if (fmod == npos) {
    *why = ver == npos    ? "no ver field"
           : fadd == npos ? "no fadd field within 7 bytes of ver"
                          : "no fmod field within 8 bytes of fadd";
    return FormVerdict::kMalformed;
  }
  // conts is last, and encoded: no '&' follows its own.
  const std::size_t conts = body.rfind('&');
  if (conts < fmod + 6 || body.compare(conts, 7, "&conts=") != 0) {
    *why = "the last field is not conts";
    return FormVerdict::kMalformed;
  }
  std::size_t ladd = npos, lmod = npos;
  FindLaddLmod(body, fmod + 6, conts, &ladd, &lmod);
  if (lmod == npos) {
    *why = "no ladd field followed within 8 bytes by lmod";
    return FormVerdict::kMalformed;
  }

  ReportForm f;
  if (!TakeRaw(body, 4, fver, kMaxUidBytes, "uid", &f.uid, why) ||
      !TakeRaw(body, fver + 6, ver, kMaxFverBytes, "fver", &f.fver, why) ||
      !TakeRaw(body, ver + 5, fadd, kMaxVersionBytes, "ver", &f.ver, why) ||
      !TakeRaw(body, fadd + 6, fmod, kMaxOffsetBytes, "fadd", &f.fadd, why) ||
      !TakeRaw(body, fmod + 6, ladd, kMaxModuleBytes, "fmod", &f.fmod, why) ||
      !TakeRaw(body, ladd + 6, lmod, kMaxOffsetBytes, "ladd", &f.ladd, why) ||
      !TakeRaw(body, lmod + 6, conts, kMaxModuleBytes, "lmod", &f.lmod, why))
    return FormVerdict::kMalformed;
  for (char c : f.fver) {
    if (!IsFverByte(c)) {
      *why = "fver holds a byte other than letters, digits, '.', '-' and '_'";
      return FormVerdict::kMalformed;
    }
  }
  const FormVerdict verdict = DecodeConts(body.substr(conts + 7), &f.conts, why);
  if (verdict != FormVerdict::kOk) return verdict;
  *form = std::move(f);
  return FormVerdict::kOk;
}

std::string RestoreLog(std::string_view conts) {
  for (std::size_t i = 0; i < conts.size(); ++i) {
    if (conts[i] == '\n' && (i == 0 || conts[i - 1] != '\r')) return std::string(conts);
  }
  std::string log;
  log.reserve(conts.size());
  for (std::size_t i = 0; i < conts.size(); ++i) {
    if (conts[i] == '\r' && i + 1 < conts.size() && conts[i + 1] == '\n') continue;
    log.push_back(conts[i]);
  }
  return log;
}

}  // namespace ulr
