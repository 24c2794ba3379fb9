#include "tree/file_digest.h"

#include "formats/trust/file_hasher.h"
#include "formats/trust/release_check.h"
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

namespace {
bool ReadFrom(void* source, char* buffer, std::size_t cap, std::size_t* got) {
  std::FILE* f = static_cast<std::FILE*>(source);
  *got = std::fread(buffer, 1, cap, f);
  return !std::ferror(f);
}
}  // namespace

bool Sha256OfFile(const std::filesystem::path& path, uint8_t (&sha256)[ul::kSha256Bytes], uint64_t* size) {
  OwnedFile f = OpenFile(path, "rb");
  return f && ul::Sha256Read(ReadFrom, f.get(), sha256, size);
}

bool IndexOfFile(const std::filesystem::path& path, ul::ChunkIndex* index) {
  OwnedFile f = OpenFile(path, "rb");
  return f && ul::IndexFile(f.get(), index);
}

}  // namespace ulp
