// What the served lists say of a client file's bytes, computed by the
// updater's own code so that the lists and the clients can never differ:
// the hash list's digest (FileHasher) and the chunk index (the chunker).
#pragma once

#include <filesystem>
#include <string>

#include "formats/chunks/chunk_index.h"

namespace ulp {

// The chained digest's 32 lower-case hexadecimal characters (empty for an
// empty file). False when the file cannot be read.
bool ChainedDigest(const std::filesystem::path& file, std::string* hex);

// Size and SHA-256 of the file at path. False when it cannot be read.
bool Sha256OfFile(const std::filesystem::path& path, uint8_t (&sha256)[ul::kSha256Bytes], uint64_t* size);

// The chunk index of the file at path. False when it cannot be read to its
// end, or needs more chunks than an index holds.
bool IndexOfFile(const std::filesystem::path& path, ul::ChunkIndex* index);

}  // namespace ulp
