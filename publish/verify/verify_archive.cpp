// An archive as the updater unpacks it: minizip's unzip interface, every
// member through the same early refusal and the same path gate, in archive
// order, stopping at the first member that fails, as the updater does.
#include <cstring>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "unzip.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

// Reads the current member whole; false when it is damaged.
bool ReadsWhole(unzFile zip) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
  std::vector<char> buffer(65536);
  int n;
  while ((n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
  }
  // Having read the whole member, minizip compares the stored CRC-32.
  const bool crcOk = unzCloseCurrentFile(zip) != UNZ_CRCERROR;
  return n == 0 && crcOk;
}

// The current member: its name in *name; false, with why, when the updater
// would stop unpacking at it.
bool CheckMember(unzFile zip, const std::string& folder, std::string* name, std::string* why) {
  unz_file_info info;
  char stored[ul::kPathCap] = {0};
  if (unzGetCurrentFileInfo(zip, &info, stored, sizeof stored - 1, nullptr, 0, nullptr, 0) !=
      UNZ_OK) {
    *why = "its directory entry cannot be read";
    return false;
  }
  for (char* p = stored; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  *name = stored;
  if (info.size_filename > sizeof stored - 1) {
    *why = "its name is longer than " + std::to_string(sizeof stored - 1) + " characters";
    return false;
  }
  if (!ul::IsSafeRelativePath(stored)) {
    *why = "its name leads out of the folder (absolute, a drive, '..')";
    return false;
  }
  if (!name->empty() && name->back() == '\\') return true;  // a folder: made with its files
  char path[ul::kPathCap];
  if (!ul::ResolveInsideFolder(folder.c_str(), stored, path)) {
    *why = "the path gate refuses it below " + folder;
    return false;
  }
  if (!ReadsWhole(zip)) {
    *why = "it is damaged (it does not unpack, or its CRC does not match)";
    return false;
  }
  return true;
}

}  // namespace

void CheckArchive(Report& report, const std::string& where, const std::string& localPath,
                  const std::string& unpackFolder) {
  unzFile zip = unzOpen(localPath.c_str());
  if (zip == nullptr) {
    report.Problem(where, "not an archive that opens: the updater deletes it and unpacks nothing");
    return;
  }
  unz_global_info global;
  if (unzGetGlobalInfo(zip, &global) != UNZ_OK || global.number_entry == 0 ||
      unzGoToFirstFile(zip) != UNZ_OK) {
    report.Problem(where, "an archive without members: the updater unpacks nothing");
    unzClose(zip);
    return;
  }
  for (unsigned long index = 1;; ++index) {
    std::string name;
    std::string why;
    if (!CheckMember(zip, unpackFolder, &name, &why)) {
      report.Problem(where, "member " + std::to_string(index) + " " + Quoted(name) + ": " + why +
                                ": the updater stops unpacking there");
      break;
    }
    const int rc = unzGoToNextFile(zip);
    if (rc == UNZ_END_OF_LIST_OF_FILE) break;
    if (rc != UNZ_OK) {
      report.Problem(where, "the archive's directory is damaged after member " +
                                std::to_string(index) + ": the updater stops unpacking there");
      break;
    }
  }
  unzClose(zip);
}

}  // namespace ulp
