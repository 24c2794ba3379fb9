// The binary patches of a release (formats/patches/patch_list.h), where the
// settings name a patch list: for every file the release changes (up to
// ul::kPatchMaxFileBytes), a patch from each of the patch-bases newest
// earlier versions of it that the tree's history holds (tree/
// patch_history.h), kept only where it is smaller than what the chunk
// transfer would fetch to make the same file from the same base (the whole
// file where it has no chunk index). A file the release leaves as it was
// keeps the patches that make it. The list names them all; the patches no
// entry names leave the tree. The files themselves stay served whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "tree/client_scan.h"
#include "tree/settings.h"
#include "tree/tree_stage.h"

namespace ulp {

struct PatchWork {
  const Settings& settings;             // the new tree's
  const std::filesystem::path& before;  // the tree before: its copies are the newest bases
  int beforeVersion;
  int version;
  const ClientScan& scan;
  const std::set<std::string>& changed;  // client names whose bytes are new
};

struct PatchReport {
  std::size_t listed = 0;   // entries of the list
  std::size_t made = 0;     // patches made by this release
  std::size_t dropped = 0;  // made or tried, and not kept
  uint64_t bytes = 0;       // of the patches made
};

// Makes the release's patches and writes the list and the history into the
// stage. Nothing without a patch list in the settings.
bool WritePatches(TreeStage& stage, const PatchWork& work, const char* command, PatchReport* report,
                  std::string* error);

// An empty list, for a first tree made with patches.
bool WriteEmptyPatchList(TreeStage& stage, const Settings& settings, std::string* error);

// Whether the program configuration of the published tree announces the
// settings' patch list, as the updater reads it.
bool AnnouncesPatchList(const std::filesystem::path& tree, const Settings& settings);

// The update list's word for a client file, which the patch list names:
// its published name, or the updater's new copy for the updater.
std::string PatchTarget(const std::string& clientName);

}  // namespace ulp
