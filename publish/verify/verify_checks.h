// The steps of a check, and what they share. Each step reads what the
// earlier ones found and returns false when the later ones cannot run.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/lists/directory_file.h"
#include "formats/lists/hash_list.h"
#include "formats/lists/program_config.h"
#include "formats/patches/patch_list.h"
#include "formats/trust/release_manifest.h"
#include "tree/served_tree.h"
#include "verify/verify_report.h"

namespace ulp {

// What the tree's configuration files say, as the updater's readers read
// them.
struct TreeConfig {
  DirectoryRecord directory;
  ProgramConfig program;
  std::vector<HashEntry> hashEntries;
};

struct VerifyRun {
  explicit VerifyRun(std::FILE* out) : report(out) {}

  ServedTree tree;
  Report report;
  TreeConfig config;
  std::string clientFolder;
  TreeIndex index;       // every file the lists name
  std::FILE* progress = nullptr;
  int lines = 0;         // list lines read
  int files = 0;         // files fetched
  bool unreachable = false;
  int fullInstallLine = 0;  // the first update list line that asks for the full installer
  std::string releaseKey;   // the public release key's line, "" when not given
  // Size and SHA-256 of each named file as it arrived, by object path.
  std::map<std::string, ul::ReleaseFile> served;
  // The entries of the patch list, once CheckPatchList ran.
  std::vector<ul::PatchEntry> patchEntries;
};

bool ReadSignedRelease(VerifyRun& run);   // manifest_check.cpp: bounds what is stored
bool CheckDirectoryFile(VerifyRun& run);  // verify.cpp
bool CheckProgramConfig(VerifyRun& run);  // verify.cpp
bool CheckHashList(VerifyRun& run);       // verify_hash_list.cpp
bool CheckUpdateList(VerifyRun& run);     // verify_update_list.cpp
bool CheckInstaller(VerifyRun& run);      // verify_files.cpp
bool CheckNamedFiles(VerifyRun& run);     // verify_files.cpp
bool CheckSignedRelease(VerifyRun& run);  // manifest_check.cpp
// The chunk list the program configuration announces: each file it names
// is checked with its index when it arrives. verify_chunks.cpp
bool CheckChunkList(VerifyRun& run);

// The chunk index of a named file against the file's arrived bytes at
// localPath. verify_chunks.cpp
void CheckChunkIndex(VerifyRun& run, const NamedFile& file, const std::string& localPath);

// The object paths of the chunk list and of every index it names, once
// CheckChunkList ran: files the updaters fetch besides those the lists name.
// verify_chunks.cpp
std::vector<std::string> ChunkFilePaths(const VerifyRun& run);

// The patch list the program configuration announces, read into
// run.patchEntries; then every patch it names against its entry and the
// file it makes, and applied to its base where the tree's history holds it.
// verify_patches.cpp
bool CheckPatchList(VerifyRun& run);
bool CheckPatches(VerifyRun& run);
// The object paths of the patch list and of every patch it names, once
// CheckPatchList ran. verify_patches.cpp
std::vector<std::string> PatchFilePaths(const VerifyRun& run);

// Keeps the size and SHA-256 of a named file's arrived bytes for the
// signed release's check. manifest_check.cpp
void RememberServed(VerifyRun& run, const std::string& objectPath, const std::string& localPath);

// Fetches one of the server's text files into copy. When it does not
// arrive, the problem is reported with consequence ("the updater ends every
// run here") and false returned.
bool FetchText(VerifyRun& run, const std::string& objectPath, LocalCopy* copy,
               const char* consequence);

// Checks an archive as the updater unpacks it into unpackFolder (a client
// folder path). Reports at where. verify_archive.cpp
void CheckArchive(Report& report, const std::string& where, const std::string& localPath,
                  const std::string& unpackFolder);

// "line N: " for the report's reasons.
std::string LineRef(int line);

}  // namespace ulp
