#include "symbols/crash_stack.h"

#include <cstdlib>

namespace ulr {

namespace {

const char kResolvedHead[] = "ulmet-frames 1";

bool HexDigits(std::string_view s, std::size_t n, std::uint32_t* value) {
  if (s.size() < n) return false;
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

// "SS:OOOOOOOO PATH" (sectionDigits digits of section) at the start of rest.
void LogicalAt(std::string_view rest, std::size_t sectionDigits, CrashPlace* p) {
  std::uint32_t section = 0, offset = 0;
  if (HexDigits(rest, sectionDigits, &section) && rest.size() > sectionDigits && rest[sectionDigits] == ':' &&
      HexDigits(rest.substr(sectionDigits + 1), 8, &offset)) {
    p->section = section;
    p->offset = offset;
  }
  const std::size_t backslash = p->line.rfind('\\');
  const std::size_t blank = p->line.rfind(' ');
  if (backslash != std::string::npos) p->module = p->line.substr(backslash + 1);
  else if (blank != std::string::npos) p->module = p->line.substr(blank + 1);
}

std::string_view SkipBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// "Fault address:  004015BB 01:000005BB C:\...\UlmetMain.exe"
CrashPlace FaultPlace(std::string_view line, std::size_t label) {
  CrashPlace p;
  p.fault = true;
  p.line = std::string(line);
  std::string_view rest = SkipBlanks(line.substr(label + 14));
  HexDigits(rest, 8, &p.address);
  rest = SkipBlanks(rest.size() > 8 ? rest.substr(8) : std::string_view());
  LogicalAt(rest, 2, &p);
  return p;
}

// "004015BB  006DFCB8  0001:000005BB C:\...\UlmetMain.exe"
CrashPlace StackPlace(std::string_view line) {
  CrashPlace p;
  p.line = std::string(line);
  std::string_view rest = SkipBlanks(line);
  HexDigits(rest, 8, &p.address);
  rest = SkipBlanks(rest.size() > 8 ? rest.substr(8) : std::string_view());
  rest = SkipBlanks(rest.size() > 8 ? rest.substr(8) : std::string_view());
  LogicalAt(rest, 4, &p);
  return p;
}

std::string OneLine(const std::string& text) {
  std::string out = text.substr(0, 1024);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

}  // namespace

std::vector<CrashPlace> ReadCrashPlaces(std::string_view log) {
  std::vector<CrashPlace> places;
  bool inStack = false, faultSeen = false;
  std::size_t stackLines = 0, at = 0;
  while (at < log.size()) {
    std::size_t end = log.find('\n', at);
    if (end == std::string_view::npos) end = log.size();
    std::string_view line = log.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t label = line.find("Fault address:");
    if (!faultSeen && !inStack && label != std::string_view::npos) {
      places.insert(places.begin(), FaultPlace(line, label));
      faultSeen = true;
    } else if (!inStack && line.find("Address   Frame") != std::string_view::npos) {
      inStack = true;
    } else if (inStack && line.rfind("//=", 0) == 0) {
      break;
    } else if (inStack && line.find('\\') != std::string_view::npos && stackLines < kMaxFrames) {
      places.push_back(StackPlace(line));
      ++stackLines;
    }
  }
  return places;
}

std::string WriteResolved(const std::vector<Resolved>& frames) {
  std::string out = std::string(kResolvedHead) + " " + std::to_string(frames.size()) + "\n";
  for (const Resolved& r : frames) {
    out += OneLine(r.function) + "\t" + std::to_string(r.functionOffset) + "\t" + OneLine(r.file) + "\t" +
           std::to_string(r.line) + "\n";
  }
  return out;
}

bool ReadResolved(std::string_view text, std::vector<Resolved>* frames) {
  frames->clear();
  const std::string head = std::string(kResolvedHead) + " ";
  if (text.rfind(head, 0) != 0) return false;
  std::size_t at = text.find('\n');
  const long count = std::strtol(std::string(text.substr(head.size(), at - head.size())).c_str(), nullptr, 10);
  while (at != std::string_view::npos && at + 1 < text.size()) {
    const std::size_t end = text.find('\n', at + 1);
    const std::string line(text.substr(at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1));
    at = end;
    const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos) break;
    Resolved r;
    r.function = line.substr(0, t1);
    r.functionOffset = std::strtoll(line.c_str() + t1 + 1, nullptr, 10);
    r.file = line.substr(t2 + 1, t3 - t2 - 1);
    r.line = std::atoi(line.c_str() + t3 + 1);
    frames->push_back(std::move(r));
  }
  if (static_cast<long>(frames->size()) == count) return true;
  frames->clear();
  return false;
}

}  // namespace ulr
