// The publisher's settings, kept in the tree as ulmet-publish.cfg: written by
// init, read and rewritten by every release, so that nothing is typed twice.
// Nothing secret goes in: the file lies in the served tree (the web server
// denies it).
//
// Plain text, one setting per line: its name, one blank, its value (the rest
// of the line). Lines that begin with '#' are comments. Names of client
// files and folders are relative to the client folder, '/' between folders,
// in code page 949 like the tree's other text files.
#pragma once

#include <string>
#include <vector>

#include "tree/name_rules.h"
#include "tree/tree_layout.h"

namespace ulp {

struct Settings {
  std::string host = kDefaultHost;
  int port = kDefaultPort;
  int version = kFirstVersion;  // the newest published version
  std::string installFolder = kDefaultInstallFolder;
  ServerPaths paths;
  std::vector<std::string> archives;      // client folders published as archives
  std::vector<std::string> hashExcludes;  // files, or folders ending in '/'
  std::vector<std::string> files;         // the client files of the newest version
  unsigned long long chunkIndexFrom = kDefaultChunkIndexFrom;  // with paths.chunkList
  // With paths.patchList: the earlier versions a changed file gets patches
  // from, and what making one patch may take.
  int patchBases = kDefaultPatchBases;
  int patchSeconds = 1800;
  int patchMemoryMib = 2048;
};

std::string SettingsText(const Settings& settings);

// The settings file of the published folder tree. False when there is none
// (a served address, a tree the tool did not write) or it does not read.
bool ReadTreeSettings(const std::string& tree, Settings* settings);

// Why the chunk list's folder cannot hold the indexes, or the patch list's
// folder the patches, or "": each must be a folder of its own, outside the
// update files, holding none of the tree's other files (nor the other
// list's), so that no client file's name can be an index's or a patch's.
std::string ListFolderProblem(const ServerPaths& paths);

// False, with the line and what is wrong in *error, for a name it does not
// know, a value out of range or a missing version or host.
bool ParseSettings(const std::string& text, Settings* settings, std::string* error);

}  // namespace ulp
