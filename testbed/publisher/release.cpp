#include "release.h"

#include <cstdlib>
#include <sstream>

namespace tb {

bool SplitWords(const std::string& line, std::vector<std::string>* words) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) return false;
      word = line.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
    }
    words->push_back(word);
  }
  return true;
}

namespace {

bool ToInt(const std::string& s, int lo, int hi, int* out) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ToSize(const std::string& s, unsigned long long* out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 10);
  if (s.empty() || s[0] == '-' || *end != '\0' || v == 0) return false;
  *out = v;
  return true;
}

// The rest of the line after the first `skip` words, as written.
std::string RestAfterWords(const std::string& line, int skip) {
  size_t i = 0;
  for (int w = 0; w < skip; ++w) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::string rest = line.substr(i);
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.pop_back();
  return rest;
}

bool EndsWithZip(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 3);
  for (auto& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == "zip";
}

// The words of a "version" statement (the first is "version"): the number,
// then the entries, each refused when the update list could not carry it.
bool ParseVersion(const std::vector<std::string>& w, ReleaseVersion* v, std::string* why) {
  auto fail = [&](const std::string& reason) {
    *why = reason;
    return false;
  };
  if (w.size() < 3) return fail("version takes a number and at least one entry");
  if (!ToInt(w[1], 1, 999999999, &v->number)) return fail("bad version number " + w[1]);
  for (size_t i = 2; i < w.size(); ++i) {
    const std::string& e = w[i];
    if (e.empty() || e == "-" || e == "=") return fail("empty entry");
    if (e.find('!') != std::string::npos) return fail("write blanks as blanks (in quotes), not as '!': " + e);
    if (e.find("..") != std::string::npos || e[0] == '/' || e[0] == '\\' || e.find(':') != std::string::npos)
      return fail("an entry must stay inside the client folder: " + e);
    if ((e[0] == '-' || e[0] == '=') && e.find(' ') != std::string::npos)
      return fail("a deletion cannot name a file with a blank (the list separates by blanks): " + e);
    v->entries.push_back(e);
  }
  return true;
}

}  // namespace

bool ParseRelease(const std::string& text, Release* out, std::string* error) {
  Release r;
  std::istringstream in(text);
  std::string line;
  int n = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(n) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++n;
    std::vector<std::string> w;
    if (!SplitWords(line, &w)) return fail("unterminated quote");
    if (w.empty() || w[0][0] == '#') continue;
    const std::string& cmd = w[0];
    if (cmd == "host") {
      if (w.size() != 2) return fail("host takes one name");
      r.host = w[1];
    } else if (cmd == "port") {
      if (w.size() != 2 || !ToInt(w[1], 1, 65535, &r.port)) return fail("port takes a number 1..65535");
    } else if (cmd == "set") {
      if (w.size() < 2) return fail("set takes a section name and a value");
      std::string name = w[1];
      if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
      r.sections[name] = RestAfterWords(line, 2);
    } else if (cmd == "unset") {
      if (w.size() != 2) return fail("unset takes a section name");
      r.unset.push_back(w[1]);
    } else if (cmd == "header") {
      r.header = RestAfterWords(line, 1);
    } else if (cmd == "installer") {
      if (w.size() != 2) return fail("installer takes one path");
      r.installer = w[1];
    } else if (cmd == "archive") {
      if (w.size() < 3) return fail("archive takes a name and at least one item");
      if (!EndsWithZip(w[1])) return fail("an archive's name must end in zip: " + w[1]);
      r.archives[w[1]] = std::vector<std::string>(w.begin() + 2, w.end());
    } else if (cmd == "file") {
      if (w.size() != 3) return fail("file takes an entry and its source");
      r.fileSources[w[1]] = w[2];
    } else if (cmd == "hash-exclude") {
      if (w.size() != 2) return fail("hash-exclude takes one path");
      r.hashExcludes.push_back(w[1]);
    } else if (cmd == "chunks") {
      r.chunkIndexFrom = 4ull << 20;
      if (w.size() > 2 || (w.size() == 2 && !ToSize(w[1], &r.chunkIndexFrom)))
        return fail("chunks takes at most a size in bytes");
    } else if (cmd == "patch") {
      if (w.size() != 3 && !(w.size() == 5 && w[3] == "from")) return fail("patch takes an entry, a base [from OTHER]");
      r.patches.push_back({w[1], w[2], w.size() == 5 ? w[4] : std::string()});
    } else if (cmd == "version") {
      ReleaseVersion v;
      v.line = n;
      std::string why;
      if (!ParseVersion(w, &v, &why)) return fail(why);
      r.versions.push_back(v);
    } else {
      return fail("unknown statement '" + cmd + "'");
    }
  }
  *out = r;
  return true;
}

}  // namespace tb
