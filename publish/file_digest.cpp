#include "file_digest.h"

#include "config/file_hasher.h"
#include "disk_names.h"

namespace ulp {

namespace {

// The updater pauses after every chunk to leave the processor to the game
// client; a publisher has nothing to leave it to.
void NoPause(void*) {}

}  // namespace

bool ChainedDigest(const std::filesystem::path& file, std::string* hex) {
  std::string narrow;
  if (!NarrowPath(file, &narrow)) return false;
  FileHasher hasher;
  hasher.SetChunkHook(NoPause, nullptr);
  char digest[FileHasher::kDigestChars + 1] = {0};
  if (!hasher.ComputeFileDigest(narrow.c_str(), digest)) return false;
  *hex = digest;
  return true;
}

}  // namespace ulp
