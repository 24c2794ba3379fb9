#include "receive/report_form.h"

#include <algorithm>
#include <vector>

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

// The raw fields in the order the updater sends them, each with the
// separator before it and the widest value the updater's buffers allow.
struct RawField {
  std::string_view separator;
  std::size_t max;
  std::string ReportForm::*value;
};
constexpr RawField kRawFields[] = {
    {"uid=", kMaxUidBytes, &ReportForm::uid},       {"&fver=", kMaxFverBytes, &ReportForm::fver},
    {"&ver=", kMaxVersionBytes, &ReportForm::ver},  {"&fadd=", kMaxOffsetBytes, &ReportForm::fadd},
    {"&fmod=", kMaxModuleBytes, &ReportForm::fmod}, {"&ladd=", kMaxOffsetBytes, &ReportForm::ladd},
    {"&lmod=", kMaxModuleBytes, &ReportForm::lmod}};
constexpr std::size_t kRawCount = sizeof kRawFields / sizeof kRawFields[0];
constexpr std::size_t kFver = 1;

constexpr std::size_t RawBytes() {
  std::size_t n = 0;
  for (const RawField& f : kRawFields) n += f.separator.size() + f.max;
  return n;
}
// The most that the raw fields with their separators can take: a body
// whose conts begins later is refused before any field is looked for.
constexpr std::size_t kMaxRawBytes = RawBytes();

std::string Name(std::size_t k) {
  const std::string_view s = kRawFields[k].separator;
  return std::string(s.substr(s[0] == '&' ? 1 : 0, s.size() - (s[0] == '&' ? 2 : 1)));
}

// The raw part of a body (everything before "&conts="), taken apart. A
// raw field may hold '&' and '=', even its successor's separator (a log
// named "a&fver=b_exception.log" gives the uid "a&fver=b"): each field
// ends at the first place where its successor's separator begins and every
// later field still fits its width and bytes. The raw part is at most
// kMaxRawBytes and each field is tried once at each place it can start,
// so the work is bounded whatever the bytes.
class RawReader {
 public:
  explicit RawReader(std::string_view raw) : raw_(raw), failed_(kRawCount * (raw.size() + 1), false) {}

  bool Read(ReportForm* form, std::string* why) {
    if (!Fits(0, kRawFields[0].separator.size())) {
      *why = deepest_ + 1 == kRawCount
                 ? "lmod is wider than " + std::to_string(kRawFields[deepest_].max) + " bytes or holds a zero byte"
                 : "no " + Name(deepest_ + 1) + " field after a " + Name(deepest_) + " of at most " +
                       std::to_string(kRawFields[deepest_].max) + " bytes" +
                       (deepest_ == kFver ? " of letters, digits, '.', '-' and '_'" : " without zero bytes");
      return false;
    }
    std::size_t start = kRawFields[0].separator.size();
    for (std::size_t k = 0; k < kRawCount; ++k) {
      (form->*kRawFields[k].value).assign(raw_.substr(start, ends_[k] - start));
      if (k + 1 < kRawCount) start = ends_[k] + kRawFields[k + 1].separator.size();
    }
    return true;
  }

 private:
  // A byte that field k can hold: the updater sends C strings, and fver is
  // a name of letters, digits, '.', '-' and '_'.
  static bool CanHold(std::size_t k, char c) { return c != '\0' && (k != kFver || IsFverByte(c)); }

  // Whether fields k and after fit when field k's value starts at start;
  // if so, ends_[k..] say where each ends.
  bool Fits(std::size_t k, std::size_t start) {
    const std::size_t at = k * (raw_.size() + 1) + start;
    if (failed_[at]) return false;
    deepest_ = std::max(deepest_, k);
    const std::size_t max = kRawFields[k].max;
    if (k + 1 == kRawCount) {  // the last runs to conts
      bool holds = raw_.size() - start <= max;
      for (std::size_t i = start; holds && i < raw_.size(); ++i) holds = CanHold(k, raw_[i]);
      if (holds) ends_[k] = raw_.size();
      failed_[at] = !holds;
      return holds;
    }
    const std::string_view next = kRawFields[k + 1].separator;
    for (std::size_t end = start; end - start <= max && end + next.size() <= raw_.size(); ++end) {
      if (end > start && !CanHold(k, raw_[end - 1])) break;
      if (raw_.compare(end, next.size(), next) == 0 && Fits(k + 1, end + next.size())) {
        ends_[k] = end;
        return true;
      }
    }
    failed_[at] = true;
    return false;
  }

  const std::string_view raw_;
  std::vector<bool> failed_;  // by field and start: tried, and no place fits
  std::size_t ends_[kRawCount] = {};
  std::size_t deepest_ = 0;  // the furthest field tried, for the message
};

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
  if (body.substr(0, 4) != "uid=") {
    *why = "the body does not begin with uid=";
    return FormVerdict::kMalformed;
  }
  // conts is last, and encoded: no '&' follows its own.
  const std::size_t conts = body.rfind('&');
  if (conts == std::string_view::npos || body.compare(conts, 7, "&conts=") != 0) {
    *why = "the last field is not conts";
    return FormVerdict::kMalformed;
  }
  if (conts > kMaxRawBytes) {
    *why = "conts begins at byte " + std::to_string(conts) + "; the fields before it take at most " +
           std::to_string(kMaxRawBytes);
    return FormVerdict::kMalformed;
  }
  ReportForm f;
  if (!RawReader(body.substr(0, conts)).Read(&f, why)) return FormVerdict::kMalformed;
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
