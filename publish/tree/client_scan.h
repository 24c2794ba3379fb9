// The client folder as a release publishes it: its files in path order under
// the names the updater will know them by, and its folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ulp {

struct ClientFile {
  std::string name;  // below the client folder, code page 949, '/' between folders
  std::filesystem::path path;
  std::uintmax_t size = 0;
};

struct ClientScan {
  std::vector<ClientFile> files;  // in path order
  std::map<std::string, std::filesystem::path> folders;  // every folder below the client folder
};

// Every file below folder, sorted in path order so that nothing depends on
// the order in which the file system lists them.
std::vector<std::filesystem::path> ListFiles(const std::filesystem::path& folder);

// Scans folder, leaving out what gathers there on a player's machine (the
// "Log" and "UserData" folders, the updater's "Ulmet.ex_", "Ulmet.e__" and
// "bvx.dl_", its record "ULVerified.dat" with "ULVerified.da_", and the
// partial files and journals of unfinished transfers). Names without a form
// in code page 949, and links (whose target, anywhere on the operator's
// machine, would be published to every player), are added to problems
// ("NAME: reason") and left out; false when the folder cannot be read.
bool ScanClient(const std::filesystem::path& folder, ClientScan* scan, std::vector<std::string>* problems);

// Every reason the client folder cannot be published, one "NAME: reason"
// each: names the updater cannot deliver as themselves, empty files, names
// that differ only in letter case, and a missing UlmetMain.exe.
std::vector<std::string> ClientProblems(const ClientScan& scan, const std::vector<std::string>& hashExclusions,
                                        const std::string& installFolder);

}  // namespace ulp
