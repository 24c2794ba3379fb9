// One-line JSON records: the log format of every test bed program.
//
// Each record is a flat JSON object on one line whose values are strings or
// integers. Strings are UTF-8; a writer that must carry bytes that are not
// UTF-8 (the server's request bodies) escapes every byte of 0x80 or more as
// \u0080..\u00ff, and a reader in byte mode turns those escapes back into
// single bytes.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tb {

class JsonRecord {
 public:
  JsonRecord& Add(const std::string& key, const std::string& value);
  // Bytes of 0x80 or more become \u0080..\u00ff (see above).
  JsonRecord& AddBytes(const std::string& key, const std::string& bytes);
  JsonRecord& Add(const std::string& key, long long value);
  // The record without a trailing line feed.
  std::string Line() const;

 private:
  std::string body_;
};

// Escapes text for a JSON string (without the quotes). With bytesMode,
// bytes of 0x80 or more are escaped one by one.
std::string JsonEscape(const std::string& text, bool bytesMode);

// A parsed record: every value as text (integers in decimal).
using Record = std::map<std::string, std::string>;

// Parses one line. With bytesMode, \u0000..\u00ff escapes give single bytes;
// otherwise every \u escape (with surrogate pairs) gives UTF-8. False for a
// line that is not a flat object of strings and integers.
bool ParseJsonLine(const std::string& line, Record* out, bool bytesMode);

// Reads every parsable record of a file (missing file: none).
std::vector<Record> ReadJsonLines(const std::string& path, bool bytesMode);

}  // namespace tb
