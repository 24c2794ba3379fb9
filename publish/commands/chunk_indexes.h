// The chunk indexes of a tree's big files and the list that names them
// (formats/chunks/chunk_list.h): what lets updaters fetch only the chunks of
// a file that changed. init and release write them; the files themselves
// stay served whole where they always were.
#pragma once

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>

#include "formats/chunks/chunk_index.h"
#include "tree/client_scan.h"
#include "tree/settings.h"
#include "tree/tree_stage.h"

namespace ulp {

// Writes into the stage the index of every client file of at least
// settings.chunkIndexFrom bytes (and at most ul::kChunkIndexMaxFileBytes:
// a bigger one is noted and travels whole), and the list that names them. A file whose
// name is not in changed keeps the index the stage carried over from the
// tree before, as long as it is one of this program's for a file of its
// size; the others are indexed from their bytes. Indexes the list no longer
// names leave the stage. Nothing without a chunk list in the settings.
// *indexed: the files listed.
bool WriteChunkIndexes(TreeStage& stage, const Settings& settings, const ClientScan& scan,
                       const std::set<std::string>& changed, const char* command, std::size_t* indexed,
                       std::string* error);

// Whether the program configuration of the published tree announces the
// settings' chunk list, as the updater reads it.
bool AnnouncesChunkList(const std::filesystem::path& tree, const Settings& settings);

}  // namespace ulp
