// What a release puts on its version's line, decided from the previous
// version's client files and the new client folder.
//
// Names are client files' paths below the client folder, code page 949,
// '/' between folders.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace ulp {

enum class FileState { kUnchanged, kChanged, kAdded };

struct ClientFileState {
  std::string name;
  FileState state = FileState::kUnchanged;
};

struct PlanInput {
  std::vector<std::string> before;          // client files of the previous version
  std::vector<ClientFileState> now;         // the new client folder's files
  std::set<std::string> nowFolders;         // every folder of the new client folder
  std::vector<std::string> archiveFolders;  // published as archives
  bool installer = false;                   // a full installer comes with this version
};

struct Plan {
  // The version's entries in the order the updater is to take them: the
  // installer entry, folder deletions, file deletions, fetched files and
  // archives, and the updater's new copy last (it ends the reading of the
  // list, and the new copy reads on from the next version).
  std::vector<std::string> entries;
  std::vector<std::string> archives;        // archive folders to build now
  std::vector<std::string> archiveFolders;  // those still in the client folder, for the settings
  bool updaterCopy = false;                 // Ulmet.exe changed: publish Ulmet.ex_ from it
  std::vector<std::string> notes;           // what the operator should know
};

Plan PlanRelease(const PlanInput& input);

// The update list name of an archive folder's archive: "Data/Skins" ->
// "Data/Skins.zip" (blanks as '!').
std::string ArchiveEntry(const std::string& folder);

}  // namespace ulp
