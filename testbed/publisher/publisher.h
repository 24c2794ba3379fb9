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

bool Publish(const Release& release, const PublishOptions& options, PublishResult* result);

}  // namespace tb
