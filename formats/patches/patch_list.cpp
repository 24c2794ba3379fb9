#include "formats/patches/patch_list.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "formats/base/text_line.h"
#include "formats/base/update_names.h"

namespace ul {

namespace {

const char kHeader[] = "ulmet-patches 1";
constexpr std::size_t kFields = 9;

bool LowerHex(const std::string& text, std::size_t length) {
  if (text.size() != length) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool Sha256Field(const std::string& text, uint8_t (&out)[kSha256Bytes]) {
  return LowerHex(text, 2 * kSha256Bytes) && ParseHex(text.data(), text.size(), out, kSha256Bytes);
}

// The line's fields between single blanks; false for any other spacing.
bool SplitFields(const std::string& line, std::vector<std::string>* fields) {
  fields->clear();
  std::size_t at = 0;
  for (;;) {
    const std::size_t blank = line.find(' ', at);
    fields->push_back(line.substr(at, blank == std::string::npos ? std::string::npos : blank - at));
    if (fields->back().empty()) return false;
    if (blank == std::string::npos) return fields->size() == kFields;
    at = blank + 1;
  }
}

bool ParseEntry(const std::string& line, PatchEntry* e) {
  std::vector<std::string> f;
  if (!SplitFields(line, &f) || !IsUpdateFileName(f[0]) || f[0].find(' ') != std::string::npos ||
      !IsPatchName(f[4]) || !LowerHex(f[2], 32))
    return false;
  e->target = f[0];
  std::memcpy(e->baseMd5, f[2].data(), 32);
  e->baseMd5[32] = '\0';
  e->patch = f[4];
  return ParseDecimal(f[1], kPatchMaxFileBytes, &e->baseSize) && e->baseSize > 0 && Sha256Field(f[3], e->baseSha256) &&
         ParseDecimal(f[5], kPatchMaxFileBytes, &e->patchSize) && e->patchSize > 0 &&
         Sha256Field(f[6], e->patchSha256) && ParseDecimal(f[7], kPatchMaxFileBytes, &e->size) && e->size > 0 &&
         Sha256Field(f[8], e->sha256);
}

std::string FormatEntry(const PatchEntry& e) {
  return e.target + " " + std::to_string(e.baseSize) + " " + std::string(e.baseMd5) + " " +
         Hex(e.baseSha256, kSha256Bytes) + " " + e.patch + " " + std::to_string(e.patchSize) + " " +
         Hex(e.patchSha256, kSha256Bytes) + " " + std::to_string(e.size) + " " + Hex(e.sha256, kSha256Bytes);
}

// No two entries of the same target and base, and no patch named twice.
bool Distinct(const std::vector<PatchEntry>& entries, const std::vector<std::string>& keys) {
  std::set<std::pair<std::string, std::string>> bases;
  std::set<std::string> patches;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!bases.insert({keys[i], entries[i].baseMd5}).second || !patches.insert(entries[i].patch).second) return false;
  }
  return true;
}

}  // namespace

bool IsPatchName(const std::string& name) {
  if (name.empty() || name.size() > 128 || name[0] == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool PatchList::Parse(const char* data, std::size_t size) {
  entries_.clear();
  keys_.clear();
  if (data == nullptr || size == 0 || size > kPatchListMaxBytes || data[size - 1] != '\n') return false;
  std::vector<PatchEntry> entries;
  std::vector<std::string> keys;
  std::size_t at = 0;
  bool header = true;
  std::string line;
  while (NextBufferLine(data, size, &at, &line)) {
    if (header) {
      if (line != kHeader) return false;
      header = false;
      continue;
    }
    PatchEntry e;
    if (!ParseEntry(line, &e)) return false;
    keys.push_back(UpdateNameKey(e.target));
    entries.push_back(std::move(e));
  }
  if (!Distinct(entries, keys)) return false;
  entries_ = std::move(entries);
  keys_ = std::move(keys);
  return true;
}

bool PatchList::Lists(const char* target) const {
  return target != nullptr && std::find(keys_.begin(), keys_.end(), UpdateNameKey(target)) != keys_.end();
}

const PatchEntry* PatchList::Find(const char* target, const char* baseMd5) const {
  if (target == nullptr || baseMd5 == nullptr || std::strlen(baseMd5) != 32) return nullptr;
  const std::string key = UpdateNameKey(target);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (keys_[i] == key && EqualsNoCase(entries_[i].baseMd5, baseMd5)) return &entries_[i];
  }
  return nullptr;
}

bool PatchList::HasBaseOfSize(const char* target, uint64_t size) const {
  if (target == nullptr) return false;
  const std::string key = UpdateNameKey(target);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (keys_[i] == key && entries_[i].baseSize == size) return true;
  }
  return false;
}

bool FormatPatchList(const std::vector<PatchEntry>& entries, std::string* out) {
  std::string text = std::string(kHeader) + "\n";
  for (const PatchEntry& e : entries) text += FormatEntry(e) + "\n";
  PatchList check;
  if (!check.Parse(text.data(), text.size()) || check.entries().size() != entries.size()) return false;
  *out = std::move(text);
  return true;
}

bool PatchPath(const char* listPath, const std::string& name, std::string* out) {
  out->clear();
  if (listPath == nullptr || !IsPatchName(name)) return false;
  const char* slash = std::strrchr(listPath, '/');
  const char* backslash = std::strrchr(listPath, '\\');
  if (slash == nullptr || (backslash != nullptr && backslash > slash)) slash = backslash;
  const std::string folder(listPath, slash == nullptr ? 0 : slash - listPath + 1);
  return NormalServerPath((folder + name).c_str(), out) && out->size() < kTextCap;
}

}  // namespace ul
