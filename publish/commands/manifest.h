// The signed release of a tree: which files it records (the plan), and the
// manifest and its signature written beside the directory file (with the
// roles, for the updaters of today) and beside the update list (without,
// for the keyed updaters built before the roles existed, until they have
// replaced themselves).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/trust/release_manifest.h"
#include "system/crypto.h"

namespace ulp {

// One file the release serves: the path the updater requests and the tree
// file that answers it.
struct ReleaseSource {
  std::string requestPath;
  std::string treeFile;
};

struct ReleasePlan {
  std::string updateListPath;  // [UPDATELIST] as the updater requests it
  std::string updateListFile;  // its tree file
  ul::ReleaseRoles roles;      // the paths the tree's configuration names for them
  int32_t settingsVersion = -1;  // the tree's settings' version; -1 without settings
  std::vector<ReleaseSource> sources;
};

// The tree file that answers a request for a normal server path, as a plain
// web server maps it (served_tree.h); "" when it would climb out.
std::string TreeFileOf(const std::string& tree, const std::string& normalPath);

// Reads the tree folder the way verify does (the updater's own readers) and
// lists what a run may fetch: the directory file, the program
// configuration, the update list, the hash list and every file they name
// (the installer too when a client may need it). A named file the tree
// lacks is an error, unless only [INSTALLVERSION] names it.
bool PlanRelease(const std::string& tree, ReleasePlan* plan, std::string* error);

// The version a client has once it took every line of the update list: the
// highest version of a line with a name, as the updater reads it (at least
// 1000).
bool ReleaseVersion(const std::string& updateListFile, int32_t* version, std::string* error);

// Size and SHA-256 of every source under its normal path; two sources with
// the same normal path must be the same tree file.
bool RecordSources(const std::vector<ReleaseSource>& sources, std::vector<ul::ReleaseFile>* files,
                   std::string* error);

// The version a release is signed with: the update list's, or the tree's
// settings' when higher (a first tree's list has only its header, while
// its clients are installed at the settings' version).
int32_t SignedVersion(int32_t listVersion, int32_t settingsVersion);

struct SignReport {
  int32_t version = 0;
  std::size_t files = 0;
  uint64_t bytes = 0;
  std::string manifestFile, signatureFile;              // beside the directory file
  std::string legacyManifestFile, legacySignatureFile;  // beside the update list
};

// Records the plan's files, writes both manifests and their signatures by
// key into the tree (each replaced whole) and checks the signatures once
// more against the written files.
bool SignRelease(const std::string& tree, const ReleasePlan& plan, const KeyPair& key,
                 SignReport* report, std::string* error);

// The whole of "sign": the key read from keyFile, the tree planned and
// signed.
bool SignTree(const std::string& tree, const std::string& keyFile, SignReport* report,
              std::string* error);

// For init and release given --key: their staged tree signed before it
// takes the served tree's place (one line on standard output says so).
// Without a key, a manifest carried over from the tree before would no
// longer match the new lists, and updaters built with a key would refuse
// the release: that is refused here, unless dropSignature says to publish
// the release unsigned, which removes the old manifest and signature.
bool SignStage(const std::string& stage, const char* keyFile, bool dropSignature, std::string* error);

}  // namespace ulp
