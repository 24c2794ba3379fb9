// The steps init and release share: client files into the tree, the hash
// list, the settings, and reading the written lists back the way a client
// reads them before the tree is moved into place.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "tree/client_scan.h"
#include "tree/settings.h"
#include "tree/tree_stage.h"

namespace ulp {

// The tree name of an update list word: where the updater fetches it.
std::string FetchedFile(const Settings& settings, const std::string& word);

// Every file in files into the stage under its fetched name.
bool PublishFiles(TreeStage& stage, const Settings& settings, const std::vector<const ClientFile*>& files,
                  const char* command, std::string* error);

// The hash list of the client folder into the stage; *count: its entries.
bool WriteHashList(TreeStage& stage, const Settings& settings, const ClientScan& scan, const char* command,
                   std::size_t* count, std::string* error);

// The settings file into the stage.
bool WriteSettings(TreeStage& stage, const Settings& settings, std::string* error);

// The stage's lists as a client at installedVersion reads them: it must
// collect exactly expected and reach newVersion, and take all hashEntries
// entries of the hash list.
bool CheckLists(const TreeStage& stage, const Settings& settings, int installedVersion,
                const std::vector<std::string>& expected, int newVersion, std::size_t hashEntries, std::string* error);

}  // namespace ulp
