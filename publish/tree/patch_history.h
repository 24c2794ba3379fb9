// What the publisher keeps of earlier versions of the files it makes patches
// for: the bases of the next release's patches. It lies in the tree's own
// folder ".ulmet-history", outside the served files (the shipped nginx
// block serves no name beginning with '.'), and travels with the tree from
// release to release like the settings file:
//
//   .ulmet-history/ULHistory.dat   "ulmet-history 1", then one line a version:
//                                  "VERSION SIZE MD5 SHA256 TARGET", newest first
//   .ulmet-history/<SHA256>        the version's bytes (a link to the served
//                                  copy where the file system allows)
//
// TARGET is the update list's word for the file (Ulmet.ex_ for the updater).
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "formats/trust/release_manifest.h"
#include "tree/tree_stage.h"

namespace ulp {

constexpr char kHistoryFolder[] = ".ulmet-history";

struct HistoryEntry {
  int version = 0;
  uint64_t size = 0;
  std::string md5;  // the hash list's chained digest
  uint8_t sha256[ul::kSha256Bytes] = {0};
  std::string target;
};

class PatchHistory {
 public:
  // The stage's history as the tree before left it (none: empty). False
  // when its index cannot be read.
  bool Read(const TreeStage& stage, std::string* error);

  // The newest count versions of target, newest first.
  std::vector<HistoryEntry> Newest(const std::string& target, std::size_t count) const;
  bool Has(const std::string& target, const uint8_t (&sha256)[ul::kSha256Bytes]) const;
  // Where the stage holds an entry's bytes.
  std::filesystem::path FileOf(const TreeStage& stage, const HistoryEntry& e) const;

  // Keeps the file at path as version of target, the newest.
  bool Add(TreeStage& stage, const std::string& target, int version, const std::filesystem::path& path,
           std::string* error);
  // Keeps the count newest versions of the targets named, nothing of others.
  void Trim(const std::set<std::string>& targets, std::size_t count);
  // Writes the index into the stage and removes the bytes no entry names.
  bool Write(TreeStage& stage, std::string* error) const;

 private:
  std::vector<HistoryEntry> entries_;  // newest first
};

}  // namespace ulp
