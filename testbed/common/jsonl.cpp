#include "jsonl.h"

#include <cstdio>
#include <fstream>

namespace tb {

std::string JsonEscape(const std::string& text, bool bytesMode) {
  std::string out;
  out.reserve(text.size() + 8);
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f || (bytesMode && c >= 0x80)) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

JsonRecord& JsonRecord::Add(const std::string& key, const std::string& value) {
  if (!body_.empty()) body_ += ",";
  body_ += "\"" + JsonEscape(key, false) + "\":\"" + JsonEscape(value, false) + "\"";
  return *this;
}

JsonRecord& JsonRecord::AddBytes(const std::string& key, const std::string& bytes) {
  if (!body_.empty()) body_ += ",";
  body_ += "\"" + JsonEscape(key, false) + "\":\"" + JsonEscape(bytes, true) + "\"";
  return *this;
}

JsonRecord& JsonRecord::Add(const std::string& key, long long value) {
  if (!body_.empty()) body_ += ",";
  body_ += "\"" + JsonEscape(key, false) + "\":" + std::to_string(value);
  return *this;
}

std::string JsonRecord::Line() const { return "{" + body_ + "}"; }

namespace {

void AppendUtf8(std::string* out, unsigned long cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Parser {
 public:
  Parser(const std::string& s, bool bytesMode) : s_(s), bytes_(bytesMode) {}

  bool Object(Record* out) {
    Skip();
    if (!Eat('{')) return false;
    Skip();
    if (Eat('}')) return AtEnd();
    for (;;) {
      std::string key, value;
      Skip();
      if (!String(&key)) return false;
      Skip();
      if (!Eat(':')) return false;
      Skip();
      if (Peek() == '"') {
        if (!String(&value)) return false;
      } else if (!Number(&value)) {
        return false;
      }
      (*out)[key] = value;
      Skip();
      if (Eat(',')) continue;
      if (Eat('}')) return AtEnd();
      return false;
    }
  }

 private:
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  void Skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
  }
  bool AtEnd() {
    Skip();
    return i_ == s_.size();
  }
  bool Hex4(unsigned long* v) {
    if (i_ + 4 > s_.size()) return false;
    *v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s_[i_++];
      *v <<= 4;
      if (c >= '0' && c <= '9') *v |= c - '0';
      else if (c >= 'a' && c <= 'f') *v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') *v |= c - 'A' + 10;
      else return false;
    }
    return true;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (i_ < s_.size()) {
      char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          unsigned long cp;
          if (!Hex4(&cp)) return false;
          if (bytes_ && cp < 0x100) {
            *out += static_cast<char>(cp);
            break;
          }
          if (cp >= 0xD800 && cp < 0xDC00 && i_ + 6 <= s_.size() && s_[i_] == '\\' && s_[i_ + 1] == 'u') {
            i_ += 2;
            unsigned long lo;
            if (!Hex4(&lo)) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Number(std::string* out) {
    size_t start = i_;
    if (Peek() == '-') ++i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    if (i_ == start || (i_ == start + 1 && s_[start] == '-')) return false;
    *out = s_.substr(start, i_ - start);
    return true;
  }

  const std::string& s_;
  bool bytes_;
  size_t i_ = 0;
};

}  // namespace

bool ParseJsonLine(const std::string& line, Record* out, bool bytesMode) {
  out->clear();
  Parser p(line, bytesMode);
  return p.Object(out);
}

std::vector<Record> ReadJsonLines(const std::string& path, bool bytesMode) {
  std::vector<Record> records;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    Record r;
    if (ParseJsonLine(line, &r, bytesMode)) records.push_back(r);
  }
  return records;
}

}  // namespace tb
