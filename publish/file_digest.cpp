#include "file_digest.h"

#include "formats/trust/file_hasher.h"
#include "disk_names.h"

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

}  // namespace ulp
