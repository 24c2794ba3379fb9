#include "faults.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace tb {

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::kNone: return "none";
    case FaultKind::kStatus: return "status";
    case FaultKind::kNoLength: return "nolength";
    case FaultKind::kChunked: return "chunked";
    case FaultKind::kEmpty: return "empty";
    case FaultKind::kCut: return "cut";
    case FaultKind::kTrickle: return "trickle";
    case FaultKind::kDelay: return "delay";
    case FaultKind::kBody: return "body";
    case FaultKind::kLength: return "length";
    case FaultKind::kNoRanges: return "noranges";
    case FaultKind::kWrongRange: return "wrongrange";
    case FaultKind::kWrongBytes: return "wrongbytes";
  }
  return "?";
}

namespace {

bool ToNumber(const std::string& text, long lo, long hi, long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One NAME=VALUE of a fault into f. Names that belong to the caller (path,
// kind) are passed over.
bool ApplyParameter(const std::string& name, const std::string& value, Fault* f,
                    std::string* error) {
  if (name == "body") {
    f->body = value;
    return true;
  }
  if (name == "length") {
    if (!IsDigits(value)) {
      *error = "length takes decimal digits, got '" + value + "'";
      return false;
    }
    f->length = value;
    return true;
  }
  struct Limit { const char* name; long lo, hi; };
  static const Limit limits[] = {{"status", 100, 999}, {"bytes", 0, 1L << 30},
                                 {"delay_ms", 0, 600000}, {"interval_ms", 1, 60000},
                                 {"count", -1, 1000000}, {"shift", -(1L << 30), 1L << 30},
                                 {"at", 0, 1L << 30}};
  const Limit* limit = nullptr;
  for (const auto& l : limits) {
    if (name == l.name) limit = &l;
  }
  if (limit == nullptr) return true;
  long v = 0;
  if (!ToNumber(value, limit->lo, limit->hi, &v)) {
    *error = "bad value '" + value + "' for " + name;
    return false;
  }
  if (name == "status") f->status = static_cast<int>(v);
  else if (name == "bytes") f->bytes = v;
  else if (name == "delay_ms") f->delayMs = static_cast<int>(v);
  else if (name == "interval_ms") f->intervalMs = static_cast<int>(v);
  else if (name == "count") f->count = static_cast<int>(v);
  else if (name == "shift") f->shift = v;
  else if (name == "at") f->at = v;
  return true;
}

}  // namespace

bool ParseFault(const std::string& kind, const std::map<std::string, std::string>& params,
                Fault* out, std::string* error) {
  static const std::map<std::string, FaultKind> kinds = {
      {"status", FaultKind::kStatus}, {"nolength", FaultKind::kNoLength},
      {"chunked", FaultKind::kChunked}, {"empty", FaultKind::kEmpty},
      {"cut", FaultKind::kCut}, {"trickle", FaultKind::kTrickle},
      {"delay", FaultKind::kDelay}, {"body", FaultKind::kBody}, {"length", FaultKind::kLength},
      {"noranges", FaultKind::kNoRanges}, {"wrongrange", FaultKind::kWrongRange},
      {"wrongbytes", FaultKind::kWrongBytes}};
  Fault f;
  auto k = kinds.find(kind);
  if (k == kinds.end()) {
    *error = "unknown fault kind '" + kind +
             "' (status, nolength, chunked, empty, cut, trickle, delay, body, length, noranges, wrongrange, "
             "wrongbytes)";
    return false;
  }
  f.kind = k->second;
  for (const auto& p : params) {
    if (!ApplyParameter(p.first, p.second, &f, error)) return false;
  }
  if (f.kind == FaultKind::kStatus && params.find("status") == params.end()) {
    *error = "fault 'status' needs status=N";
    return false;
  }
  if (f.kind == FaultKind::kLength && f.length.empty()) {
    *error = "fault 'length' needs length=DIGITS";
    return false;
  }
  if (f.kind == FaultKind::kTrickle && f.bytes == 0) f.bytes = 1;
  if (f.kind == FaultKind::kWrongRange && f.shift == 0) {
    *error = "shift must not be 0";
    return false;
  }
  if (f.count == 0) {
    *error = "count must be positive or -1";
    return false;
  }
  *out = f;
  return true;
}

bool ParseFaultLine(const std::string& line, std::string* path, Fault* out, std::string* error) {
  std::istringstream in(line);
  std::string rawPath, kind, word;
  if (!(in >> rawPath >> kind)) {
    *error = "expected: PATH KIND [NAME=VALUE]...";
    return false;
  }
  std::map<std::string, std::string> params;
  while (in >> word) {
    auto eq = word.find('=');
    if (eq == std::string::npos) {
      *error = "expected NAME=VALUE, got '" + word + "'";
      return false;
    }
    params[word.substr(0, eq)] = word.substr(eq + 1);
  }
  if (!NormalizePath(rawPath, path)) {
    *error = "bad path '" + rawPath + "'";
    return false;
  }
  return ParseFault(kind, params, out, error);
}

bool NormalizePath(const std::string& raw, std::string* out) {
  std::string decoded;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2]));
      i += 2;
    } else if (c == '?') {
      break;
    } else {
      decoded += c;
    }
  }
  std::vector<std::string> segments;
  std::string seg;
  auto flush = [&]() -> bool {
    if (seg == "..") {
      if (segments.empty()) return false;
      segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(seg);
    }
    seg.clear();
    return true;
  };
  for (char c : decoded) {
    if (c == '/' || c == '\\') {
      if (!flush()) return false;
    } else if (c == '\0') {
      return false;
    } else {
      seg += c;
    }
  }
  if (!flush()) return false;
  std::string result;
  for (const auto& s : segments) result += "/" + s;
  *out = result.empty() ? "/" : result;
  return true;
}

void FaultTable::Arm(const std::string& path, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[path] = fault;
}

void FaultTable::Clear(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.erase(path);
}

void FaultTable::ClearAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

bool FaultTable::Take(const std::string& path, Fault* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = faults_.find(path);
  if (it == faults_.end()) return false;
  *out = it->second;
  if (it->second.count > 0 && --it->second.count == 0) faults_.erase(it);
  return true;
}

std::string FaultTable::Describe() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const auto& f : faults_) {
    text += f.first + " " + FaultKindName(f.second.kind);
    if (f.second.kind == FaultKind::kStatus) text += " status=" + std::to_string(f.second.status);
    if (f.second.bytes) text += " bytes=" + std::to_string(f.second.bytes);
    if (f.second.delayMs) text += " delay_ms=" + std::to_string(f.second.delayMs);
    if (f.second.kind == FaultKind::kTrickle) text += " interval_ms=" + std::to_string(f.second.intervalMs);
    if (f.second.kind == FaultKind::kWrongRange) text += " shift=" + std::to_string(f.second.shift);
    if (f.second.kind == FaultKind::kWrongBytes) text += " at=" + std::to_string(f.second.at);
    text += " count=" + std::to_string(f.second.count) + "\n";
  }
  return text;
}

}  // namespace tb
