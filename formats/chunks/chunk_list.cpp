#include "formats/chunks/chunk_list.h"

#include <algorithm>
#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/text_line.h"
#include "formats/base/update_names.h"
#include "formats/trust/release_manifest.h"

namespace ul {

namespace {

const char kHeader[] = "ulmet-chunks 1";

}  // namespace

bool ChunkList::Parse(const char* data, std::size_t size) {
  names_.clear();
  keys_.clear();
  if (data == nullptr || size == 0 || size > kChunkListMaxBytes || data[size - 1] != '\n')
    return false;
  std::vector<std::string> names;
  std::size_t at = 0;
  bool header = true;
  std::string line;
  while (NextBufferLine(data, size, &at, &line)) {
    if (header ? line != kHeader : !IsUpdateFileName(line)) return false;
    if (!header) names.push_back(line);
    header = false;
  }
  std::vector<std::string> keys;
  for (const auto& n : names) keys.push_back(UpdateNameKey(n));
  std::sort(keys.begin(), keys.end());
  if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return false;
  names_ = std::move(names);
  keys_ = std::move(keys);
  return true;
}

bool ChunkList::Lists(const char* name) const {
  return name != nullptr && std::binary_search(keys_.begin(), keys_.end(), UpdateNameKey(name));
}

bool ChunkList::ListedName(const char* name, std::string* listed) const {
  if (!Lists(name)) return false;
  const std::string key = UpdateNameKey(name);
  for (const auto& n : names_) {
    if (UpdateNameKey(n) != key) continue;
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
  if (listPath == nullptr || name == nullptr || !IsUpdateFileName(name)) return false;
  const char* slash = std::strrchr(listPath, '/');
  const char* backslash = std::strrchr(listPath, '\\');
  if (slash == nullptr || (backslash != nullptr && backslash > slash)) slash = backslash;
  const std::string folder(listPath, slash == nullptr ? 0 : slash - listPath + 1);
  return NormalServerPath((folder + name + kChunkIndexSuffix).c_str(), out);
}

}  // namespace ul
