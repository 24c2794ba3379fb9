#include "tree/file_digest.h"

#include "formats/trust/file_hasher.h"
#include "system/disk_names.h"
#include "system/file_io.h"

namespace ulp {

bool ChainedDigest(const std::filesystem::path& file, std::string* hex) {
  std::string narrow;
  if (!NarrowPath(file, &narrow)) return false;
  FileHasher hasher;
  char digest[FileHasher::kDigestChars + 1] = {0};
  if (!hasher.ComputeFileDigest(narrow.c_str(), digest)) return false;
  *hex = digest;
  return true;
}

bool IndexOfFile(const std::filesystem::path& path, ul::ChunkIndex* index) {
  OwnedFile f = OpenFile(path, "rb");
  return f && ul::IndexFile(f.get(), index);
}

}  // namespace ulp
