// The list of binary patches: for an update file whose new version the
// player may make from the copy installed, which patch makes it from which
// earlier version (its base).
//
// The program configuration's section "[PATCHLIST]" names the list's server
// path; a tree without that section has no patches, and updaters that do not
// know the section pass over it. The patches lie in the list's folder, which
// holds nothing else.
//
// A patch is one zstd frame made with the base as the decoder's prefix
// (patch_decoder.h): its window covers the larger of the two files, it
// carries the new file's size and its own checksum.
//
// List (text, '\n' after every line, one blank between fields):
//   ulmet-patches 1
//   TARGET BASESIZE BASEMD5 BASESHA256 PATCH PATCHSIZE PATCHSHA256 SIZE SHA256
//   ...
// TARGET is the update file as the update list writes it (code page 949,
// '/' between folders, blanks as '!'). The base is named by what a client
// knows of its installed copy without reading it: the hash list's chained
// digest (BASEMD5, 32 lower-case hexadecimal characters, as the verified-
// state record holds it), with its size and SHA-256. PATCH is a file name
// in the list's folder (letters, digits, '.', '-' and '_', not beginning
// with '.'). SIZE and SHA256 are the new file's, the one the patch makes.
// Sizes are decimal, from 1; bases and new files are at most
// kPatchMaxFileBytes. No two entries have the same target and base, and no
// two name the same patch. SHA-256 values are 64 lower-case hexadecimal
// characters.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/trust/release_manifest.h"

namespace ul {

// The largest base and new file a patch is made for: the updater maps both
// into its 32-bit address space while it applies a patch. Bigger files keep
// their chunks or travel whole.
constexpr uint64_t kPatchMaxFileBytes = uint64_t{1} << 28;
// The largest window a patch's frame may ask for: one that covers files of
// kPatchMaxFileBytes.
constexpr unsigned kPatchWindowLogMax = 28;
// A longer list is refused unread.
constexpr std::size_t kPatchListMaxBytes = 4u << 20;

struct PatchEntry {
  std::string target;
  uint64_t baseSize = 0;
  char baseMd5[33] = {0};
  uint8_t baseSha256[kSha256Bytes] = {0};
  std::string patch;  // file name in the list's folder
  uint64_t patchSize = 0;
  uint8_t patchSha256[kSha256Bytes] = {0};
  uint64_t size = 0;  // of the file the patch makes
  uint8_t sha256[kSha256Bytes] = {0};
};

class PatchList {
 public:
  // Reads a list; false, and the object empty, unless all of it is well
  // formed.
  bool Parse(const char* data, std::size_t size);

  // Whether any patch makes the update file target (letter case, '\'
  // against '/' and '!' against a blank do not matter).
  bool Lists(const char* target) const;
  // The patch that makes target from the base of that chained digest (32
  // characters, any letter case), or null.
  const PatchEntry* Find(const char* target, const char* baseMd5) const;
  // Whether some patch of target has a base of size bytes: a client that
  // knows no digest of its copy reads it only then.
  bool HasBaseOfSize(const char* target, uint64_t size) const;

  const std::vector<PatchEntry>& entries() const { return entries_; }

 private:
  std::vector<PatchEntry> entries_;
  std::vector<std::string> keys_;  // the targets' keys, one per entry
};

// The list's text for entries, in the order given. False when the reader
// would refuse it.
bool FormatPatchList(const std::vector<PatchEntry>& entries, std::string* out);

// Whether name may name a patch in the list's folder.
bool IsPatchName(const std::string& name);

// The server path of the patch named name, for the list at listPath. False
// when it would not be a normal server path that fits the updater's buffers.
bool PatchPath(const char* listPath, const std::string& name, std::string* out);

}  // namespace ul
