#include "formats/chunks/chunk_list.h"

#include <algorithm>
#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/trust/release_manifest.h"

namespace ul {

namespace {

const char kHeader[] = "ulmet-chunks 1";

// The form two names share when the client takes them for the same file.
std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '!') c = ' ';
    if (c == '\\') c = '/';
  }
  return key;
}

// A relative path below the update folder, as the update list writes one.
bool GoodName(const std::string& name) {
  if (name.empty() || name.size() >= kPathCap || name.back() == '/' || name.back() == '\\')
    return false;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return IsSafeRelativePath(name.c_str());
}

}  // namespace

bool ChunkList::Parse(const char* data, std::size_t size) {
  names_.clear();
  keys_.clear();
  if (data == nullptr || size == 0 || size > kChunkListMaxBytes || data[size - 1] != '\n')
    return false;
  std::vector<std::string> names;
  std::size_t at = 0;
  bool header = true;
  while (at < size) {
    const char* end = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
    const std::string line(data + at, static_cast<std::size_t>(end - (data + at)));
    at = static_cast<std::size_t>(end - data) + 1;
    if (header ? line != kHeader : !GoodName(line)) return false;
    if (!header) names.push_back(line);
    header = false;
  }
  std::vector<std::string> keys;
  for (const auto& n : names) keys.push_back(Key(n));
  std::sort(keys.begin(), keys.end());
  if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return false;
  names_ = std::move(names);
  keys_ = std::move(keys);
  return true;
}

bool ChunkList::Lists(const char* name) const {
  return name != nullptr && std::binary_search(keys_.begin(), keys_.end(), Key(name));
}

bool ChunkList::ListedName(const char* name, std::string* listed) const {
  if (!Lists(name)) return false;
  const std::string key = Key(name);
  for (const auto& n : names_) {
    if (Key(n) != key) continue;
    *listed = n;
    return true;
  }
  return false;
}

bool FormatChunkList(const std::vector<std::string>& names, std::string* out) {
  std::string text = std::string(kHeader) + "\n";
  for (const auto& n : names) text += n + "\n";
  ChunkList check;
  if (!check.Parse(text.data(), text.size()) || check.names() != names) return false;
  *out = std::move(text);
  return true;
}

bool ChunkIndexPath(const char* listPath, const char* name, std::string* out) {
  out->clear();
  if (listPath == nullptr || name == nullptr || !GoodName(name)) return false;
  const char* slash = std::strrchr(listPath, '/');
  const char* backslash = std::strrchr(listPath, '\\');
  if (slash == nullptr || (backslash != nullptr && backslash > slash)) slash = backslash;
  const std::string folder(listPath, slash == nullptr ? 0 : slash - listPath + 1);
  return NormalServerPath((folder + name + kChunkIndexSuffix).c_str(), out);
}

}  // namespace ul
