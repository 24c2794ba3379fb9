// The directory file reader over any bytes. Besides memory safety: the text
// fields never keep a line feed, and for the plain files that a server
// really publishes (no comments, no over-long lines; LF, CR LF or CR CR LF
// line ends, maybe a Ctrl-Z at the end) the record that is taken is the one
// a four-lines-per-record reading of the text selects.
#include "formats/lists/directory_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

struct Expected {
  bool result = true;
  std::string host, path;
  long long port = 80;
  bool filled = false;
};

// atoi-like value of a line in the plain form: optional white space, sign,
// digits. Past the int range it only has to stay past it.
long long LeadingNumber(const std::string& line) {
  std::size_t i = 0;
  while (i < line.size() && std::strchr(" \t\v\f", line[i]) != nullptr) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  long long v = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    if (v < 10000000000LL) v = v * 10 + (line[i] - '0');
  }
  return negative ? -v : v;
}

// A Ctrl-Z ends the text, and CRs before a line feed belong to the line
// end. Then only for text without ';' at a line start, other CRs, zero
// bytes or lines of 1023 characters or more: every line is one data line.
bool PlainModel(std::string raw, Expected* e) {
  raw = raw.substr(0, raw.find('\x1a'));
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::size_t end = i;
    while (end < raw.size() && raw[end] == '\r') ++end;
    if (end > i && end < raw.size() && raw[end] == '\n') i = end;
    text += raw[i];
  }
  if (text.find_first_of(std::string("\r\0", 2)) != std::string::npos) return false;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.size() >= 1022 || (!line.empty() && line[0] == ';')) return false;
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (std::size_t i = 0; i < lines.size(); i += 4) {
    if (LeadingNumber(lines[i]) != kInstanceNumber) continue;
    if (i + 3 >= lines.size()) {
      e->result = false;
      if (i + 1 < lines.size()) e->host = lines[i + 1];
      if (i + 2 < lines.size()) e->port = LeadingNumber(lines[i + 2]);
      e->filled = true;
      return true;
    }
    e->host = lines[i + 1];
    e->port = LeadingNumber(lines[i + 2]);
    e->path = lines[i + 3];
    e->filled = true;
    return true;
  }
  // No selected record: the end of a skipped record before its port line
  // fails the reading.
  const std::size_t rest = lines.size() % 4;
  e->result = !(rest == 1 || rest == 2);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ByteStream in(data, size);
  DirectoryRecord config;
  const bool ok = ParseDirectoryFile(in.get(), &config);
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::strchr(config.serverHost, '\n') == nullptr, config.serverHost);
  FUZZ_CHECK(std::strchr(config.programConfigPath, '\n') == nullptr, config.programConfigPath);

  Expected e;
  if (!PlainModel(text, &e)) return 0;
  FUZZ_CHECK(ok == e.result, text);
  FUZZ_CHECK(e.host == config.serverHost, text);
  FUZZ_CHECK(e.path == config.programConfigPath, text);
  if (e.filled && e.port > -1000000000 && e.port < 1000000000) {
    FUZZ_CHECK(e.port == config.serverPort, text);
  }
  return 0;
}
