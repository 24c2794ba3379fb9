// Writes the configuration server's whole tree for a release:
//
//   UlLaunch/global_Ulmet.cfg   directory file with record 5001
//   UlLaunch/ULProgram.cfg      program configuration file
//   Ulmet3/UpdateList.dat       update list
//   Ulmet3/ULHashFile.dat       hash list with the chained digests
//   Ulmet3/Ulmet_install.exe    the full installer (when the release names one)
//   Ulmet3/files/...            every client file and every archive, under its
//                               entry name, blanks published as '!'
#pragma once

#include <string>
#include <vector>

#include "release.h"

namespace tb {

struct PublishOptions {
  std::string clientDir;
  std::string outDir;
  std::string releaseDir;  // base of a relative installer path
  std::string host = "127.0.0.1";
  bool force = false;
};

struct PublishResult {
  std::vector<std::string> written;   // tree-relative paths
  std::vector<std::string> warnings;
  std::string error;
};

// The chained digest of a file over 32 KB chunks: the first chunk's MD5,
// then for each later chunk the MD5 of the previous digest's 32 hex
// characters followed by the chunk, over the chunk's own length. False when
// the file cannot be read.
bool ChainedFileDigest(const std::string& path, std::string* hex);

// The name under which the server publishes an entry: blanks become '!'.
std::string PublishedName(const std::string& entry);

bool Publish(const Release& release, const PublishOptions& options, PublishResult* result);

}  // namespace tb
