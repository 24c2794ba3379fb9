#include "tree/patch_history.h"

#include <cstring>
#include <map>
#include <sstream>

#include "system/disk_names.h"
#include "system/file_io.h"
#include "tree/file_digest.h"

namespace ulp {

namespace {

const char kHeader[] = "ulmet-history 1";
const std::string kIndex = std::string(kHistoryFolder) + "/ULHistory.dat";

bool ParseLine(const std::string& line, HistoryEntry* e) {
  std::istringstream in(line);
  std::string sha;
  if (!(in >> e->version >> e->size >> e->md5 >> sha) || e->md5.size() != 32 ||
      !ul::ParseHex(sha.data(), sha.size(), e->sha256, ul::kSha256Bytes))
    return false;
  std::getline(in, e->target);
  if (e->target.size() < 2 || e->target[0] != ' ') return false;
  e->target.erase(0, 1);
  return true;
}

std::string ContentName(const uint8_t (&sha256)[ul::kSha256Bytes]) {
  return std::string(kHistoryFolder) + "/" + ul::Hex(sha256, ul::kSha256Bytes);
}

}  // namespace

bool PatchHistory::Read(const TreeStage& stage, std::string* error) {
  entries_.clear();
  std::error_code ec;
  const fs::path index = stage.PathOf(kIndex);
  if (!fs::exists(index, ec)) return true;
  std::string text;
  if (!ReadWholeFile(index, &text)) {
    *error = "cannot read " + Shown(index);
    return false;
  }
  std::istringstream in(text);
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) {
    HistoryEntry e;
    if (n == 0 ? line != kHeader : !ParseLine(line, &e)) {
      *error = Shown(index) + ": line " + std::to_string(n + 1) + " is not one this tool wrote";
      return false;
    }
    if (n > 0) entries_.push_back(e);
  }
  return true;
}

std::vector<HistoryEntry> PatchHistory::Newest(const std::string& target, std::size_t count) const {
  std::vector<HistoryEntry> found;
  for (const HistoryEntry& e : entries_) {
    if (found.size() < count && e.target == target) found.push_back(e);
  }
  return found;
}

bool PatchHistory::Has(const std::string& target, const uint8_t (&sha256)[ul::kSha256Bytes]) const {
  for (const HistoryEntry& e : entries_) {
    if (e.target == target && std::memcmp(e.sha256, sha256, ul::kSha256Bytes) == 0) return true;
  }
  return false;
}

fs::path PatchHistory::FileOf(const TreeStage& stage, const HistoryEntry& e) const {
  return stage.PathOf(ContentName(e.sha256));
}

bool PatchHistory::Add(TreeStage& stage, const std::string& target, int version, const fs::path& path,
                       std::string* error) {
  HistoryEntry e;
  e.version = version;
  e.target = target;
  if (!Sha256OfFile(path, e.sha256, &e.size) || !ChainedDigest(path, &e.md5)) {
    *error = "cannot read " + Shown(path) + " for the history";
    return false;
  }
  const fs::path content = stage.PathOf(ContentName(e.sha256));
  std::error_code ec;
  if (!fs::exists(content, ec)) {
    fs::create_directories(content.parent_path(), ec);
    fs::create_hard_link(path, content, ec);
    if (ec && !CopyBytes(path, content, error)) return false;
  }
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->target == target && std::memcmp(it->sha256, e.sha256, ul::kSha256Bytes) == 0) {
      entries_.erase(it);
      break;
    }
  }
  entries_.insert(entries_.begin(), e);
  return true;
}

void PatchHistory::Trim(const std::set<std::string>& targets, std::size_t count) {
  std::map<std::string, std::size_t> kept;
  std::vector<HistoryEntry> left;
  for (const HistoryEntry& e : entries_) {
    if (targets.count(e.target) && kept[e.target]++ < count) left.push_back(e);
  }
  entries_.swap(left);
}

bool PatchHistory::Write(TreeStage& stage, std::string* error) const {
  std::string text = std::string(kHeader) + "\n";
  std::set<std::string> named;
  for (const HistoryEntry& e : entries_) {
    text += std::to_string(e.version) + " " + std::to_string(e.size) + " " + e.md5 + " " +
            ul::Hex(e.sha256, ul::kSha256Bytes) + " " + e.target + "\n";
    named.insert(ul::Hex(e.sha256, ul::kSha256Bytes));
  }
  if (!stage.Write(kIndex, text, error)) return false;
  std::error_code ec;
  std::vector<fs::path> stale;
  for (auto it = fs::directory_iterator(stage.PathOf(kHistoryFolder), ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() == 2 * ul::kSha256Bytes && !named.count(name)) stale.push_back(it->path());
  }
  for (const fs::path& p : stale) fs::remove(p, ec);
  return true;
}

}  // namespace ulp
