// Archives for the update list: a zip file that the updater unpacks into
// the archive's own folder. Written with minizip's zip interface, members
// deflated (folders stored), each with its file's modification time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ulp {

struct ZipMember {
  std::filesystem::path source;  // the file or folder on disk
  std::string name;              // code page 949, '/' between folders
  bool folder = false;           // stored as "name/" without data
};

// Appends item (a file or folder below base) and, for a folder, everything
// in it in path order, each named by its path below base. False, with
// *error, when item does not exist or a name has no form in code page 949.
bool CollectMembers(const std::filesystem::path& base, const std::filesystem::path& item,
                    std::vector<ZipMember>* members, std::string* error);

// Writes the archive, replacing any file at zipPath.
bool WriteZip(const std::filesystem::path& zipPath, const std::vector<ZipMember>& members, std::string* error);

}  // namespace ulp
