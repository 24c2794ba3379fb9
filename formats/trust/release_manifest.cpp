#include "formats/trust/release_manifest.h"

#include <algorithm>
#include <cstring>

#include "formats/base/text_line.h"
#include "formats/lists/directory_file.h"

namespace ul {

namespace {

const char kHeaderWord[] = "ulmet-release ";
const char kVersionWord[] = "version ";
const char kPublicKeyWord[] = "ulmet-p256-public ";
const char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "<size> <sha256> <path>" with a normal path.
bool ParseFileLine(const std::string& line, ReleaseFile* file) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos) return false;
  const std::size_t digestEnd = blank + 1 + 2 * kSha256Bytes;
  if (line.size() < digestEnd + 2 || line[digestEnd] != ' ') return false;
  // One spelling of each digest: lower case only.
  for (std::size_t i = blank + 1; i < digestEnd; ++i) {
    if (HexValue(line[i]) < 0 || (line[i] >= 'A' && line[i] <= 'F')) return false;
  }
  std::string normal;
  file->path = line.substr(digestEnd + 1);
  return ParseDecimal(line.substr(0, blank), uint64_t{1} << 62, &file->size) &&
         ParseHex(line.data() + blank + 1, 2 * kSha256Bytes, file->sha256, kSha256Bytes) &&
         NormalServerPath(file->path.c_str(), &normal) && normal == file->path;
}

bool ByPath(const ReleaseFile& a, const ReleaseFile& b) { return a.path < b.path; }

// The role lines of format 2, in their order, with the field each fills.
struct RoleLine {
  const char* word;
  std::string ReleaseRoles::*field;
};
const RoleLine kRoleLines[] = {
    {"config ", &ReleaseRoles::programConfig}, {"list ", &ReleaseRoles::updateList},
    {"hash ", &ReleaseRoles::hashList},        {"installer ", &ReleaseRoles::installer},
    {"files ", &ReleaseRoles::entryFolder},
};
constexpr int kRoleCount = sizeof kRoleLines / sizeof kRoleLines[0];

// A role's value is a line of the program configuration as its reader
// keeps it: no control character, shorter than its fields.
bool IsRoleValue(const std::string& value) {
  for (char c : value) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return value.size() < kTextCap;
}

bool ParseRoleLine(const std::string& line, const RoleLine& role, ReleaseRoles* roles) {
  const std::size_t word = std::strlen(role.word);
  if (line.compare(0, word, role.word) != 0) return false;
  roles->*role.field = line.substr(word);
  return IsRoleValue(roles->*role.field);
}

bool ParseLines(const char* data, std::size_t size, ReleaseManifest* m) {
  if (size == 0 || data[size - 1] != '\n') return false;
  std::size_t at = 0;
  int lineNumber = 0;
  int roleLines = 0;  // how many of the lines after the version are roles
  std::string line;
  while (NextBufferLine(data, size, &at, &line)) {
    ++lineNumber;
    if (line.find('\0') != std::string::npos) return false;
    if (lineNumber == 1) {
      if (line == std::string(kHeaderWord) + std::to_string(kLegacyFormat)) {
        m->format = kLegacyFormat;
      } else if (line == std::string(kHeaderWord) + std::to_string(kRoleFormat)) {
        m->format = kRoleFormat;
        roleLines = kRoleCount;
      } else {
        return false;
      }
    } else if (lineNumber == 2) {
      uint64_t v = 0;
      if (line.compare(0, sizeof kVersionWord - 1, kVersionWord) != 0 ||
          !ParseDecimal(line.substr(sizeof kVersionWord - 1), INT32_MAX, &v))
        return false;
      m->version = static_cast<int32_t>(v);
    } else if (lineNumber - 3 < roleLines) {
      if (!ParseRoleLine(line, kRoleLines[lineNumber - 3], &m->roles)) return false;
    } else {
      ReleaseFile file;
      if (!ParseFileLine(line, &file)) return false;
      if (!m->files.empty() && !(m->files.back().path < file.path)) return false;
      m->files.push_back(file);
    }
  }
  return lineNumber >= 2 + roleLines;
}

}  // namespace

bool ReleaseManifest::Parse(const char* data, std::size_t size) {
  *this = ReleaseManifest();
  if (data != nullptr && size <= kManifestMaxBytes && ParseLines(data, size, this)) return true;
  *this = ReleaseManifest();
  return false;
}

const ReleaseFile* ReleaseManifest::Find(const char* serverPath) const {
  ReleaseFile key;
  if (serverPath == nullptr || !NormalServerPath(serverPath, &key.path)) return nullptr;
  auto it = std::lower_bound(files.begin(), files.end(), key, ByPath);
  return it != files.end() && it->path == key.path ? &*it : nullptr;
}

bool FormatManifest(int32_t version, const ReleaseRoles* roles, std::vector<ReleaseFile> files,
                    std::string* out) {
  std::sort(files.begin(), files.end(), ByPath);
  std::string text = kHeaderWord + std::to_string(roles != nullptr ? kRoleFormat : kLegacyFormat) +
                     "\n" + kVersionWord + std::to_string(version) + "\n";
  for (int i = 0; roles != nullptr && i < kRoleCount; ++i) {
    const std::string& value = roles->*kRoleLines[i].field;
    if (!IsRoleValue(value)) return false;
    text += kRoleLines[i].word + value + "\n";
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string normal;
    if (!NormalServerPath(files[i].path.c_str(), &normal) || normal != files[i].path) return false;
    if (i > 0 && files[i - 1].path == files[i].path) return false;
    text += std::to_string(files[i].size) + " " + Hex(files[i].sha256, kSha256Bytes) + " " +
            files[i].path + "\n";
  }
  *out = text;
  return true;
}

bool NormalServerPath(const char* requestPath, std::string* out) {
  out->clear();
  std::string component;
  for (const char* p = requestPath;; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\0' || c == '/' || c == '\\') {
      if (component == "..") return false;
      if (!component.empty() && component != ".") *out += "/" + component;
      component.clear();
      if (c == '\0') break;
      continue;
    }
    if (c < 0x20 || c == 0x7F) return false;
    component += static_cast<char>(c);
  }
  return !out->empty() && out->size() < kTextCap;
}

bool ReleaseFilePaths(const char* updateListPath, char (&manifest)[kTextCap],
                      char (&signature)[kTextCap]) {
  const char* slash = std::strrchr(updateListPath, '/');
  const char* backslash = std::strrchr(updateListPath, '\\');
  if (slash == nullptr || (backslash != nullptr && backslash > slash)) slash = backslash;
  const std::string folder(updateListPath, slash == nullptr ? 0 : slash - updateListPath + 1);
  const std::string m = folder + kManifestName;
  const std::string s = folder + kSignatureName;
  if (m.size() >= kTextCap || s.size() >= kTextCap) return false;
  Copy(manifest, m.c_str());
  Copy(signature, s.c_str());
  return true;
}

void LaunchReleasePaths(char (&manifest)[kTextCap], char (&signature)[kTextCap]) {
  std::string folder;
  NormalServerPath(kDirectoryFilePath, &folder);  // short and normal: "/UlLaunch/global_Ulmet.cfg"
  folder.erase(folder.rfind('/') + 1);
  Copy(manifest, (folder + kLaunchManifestName).c_str());
  Copy(signature, (folder + kLaunchSignatureName).c_str());
}

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1)) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  *value = v;
  return true;
}

bool ParseHex(const char* text, std::size_t length, uint8_t* out, std::size_t n) {
  if (length != 2 * n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const int high = HexValue(text[2 * i]);
    const int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

std::string Hex(const uint8_t* data, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += kHexDigits[data[i] >> 4];
    text += kHexDigits[data[i] & 15];
  }
  return text;
}

namespace {
// The text without one final "\n" or "\r\n".
std::string WithoutLineEnd(const std::string& text) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  if (!t.empty() && t.back() == '\r') t.pop_back();
  return t;
}
}  // namespace

bool ParsePublicKey(const std::string& text, uint8_t (&key)[kP256KeyBytes]) {
  const std::string t = WithoutLineEnd(text);
  const std::size_t word = sizeof kPublicKeyWord - 1;
  return t.compare(0, word, kPublicKeyWord) == 0 &&
         ParseHex(t.data() + word, t.size() - word, key, kP256KeyBytes);
}

std::string FormatPublicKey(const uint8_t (&key)[kP256KeyBytes]) {
  return kPublicKeyWord + Hex(key, kP256KeyBytes) + "\n";
}

bool ParseSignature(const std::string& text, uint8_t (&signature)[kP256SignatureBytes]) {
  const std::string t = WithoutLineEnd(text);
  return ParseHex(t.data(), t.size(), signature, kP256SignatureBytes);
}

std::string FormatSignature(const uint8_t (&signature)[kP256SignatureBytes]) {
  return Hex(signature, kP256SignatureBytes) + "\n";
}

}  // namespace ul
