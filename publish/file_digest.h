// The hash list's digest of a file, computed by the updater's own
// FileHasher, so that the list and the clients' comparison can never differ.
#pragma once

#include <filesystem>
#include <string>

namespace ulp {

// The chained digest's 32 lower-case hexadecimal characters (empty for an
// empty file). False when the file cannot be read.
bool ChainedDigest(const std::filesystem::path& file, std::string* hex);

}  // namespace ulp
