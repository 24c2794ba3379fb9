// The served tree: where each of the updater's files lies, and the
// configuration a first tree starts with.
//
//   UlLaunch/global_Ulmet.cfg   directory file, record 5001 -> host, port,
//                               program configuration path
//   UlLaunch/ULProgram.cfg      program configuration ("[SECTION]", value)
//   Ulmet3/UpdateList.dat       update list
//   Ulmet3/ULHashFile.dat       hash list
//   Ulmet3/Ulmet_install.exe    the full installer, once a release has one
//   Ulmet3/files/...            every client file under its path (blanks as
//                               '!'), every archive, the updater's new copy
//   Ulmet3/chunks/ULChunkList.dat  the files that have a chunk index, and
//   Ulmet3/chunks/....chunks       their indexes (formats/chunks/chunk_list.h)
//   Ulmet3/patches/ULPatchList.dat the binary patches of changed files, and
//   Ulmet3/patches/....zst         the patches (formats/patches/patch_list.h)
//   .ulmet-history/             earlier versions of the patched files, never
//                               served (tree/patch_history.h)
//   ulmet-publish.cfg           the publisher's settings (see settings.h)
//
// The server paths below are those of the program configuration; a file's
// place in the tree is its server path without the leading '/'.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ulp {

// The updater asks the configuration host for this path, built in.
constexpr char kDirectoryFile[] = "UlLaunch/global_Ulmet.cfg";
constexpr char kSettingsFile[] = "ulmet-publish.cfg";
constexpr char kUpdateListHeader[] = "[ULMET3.0]";
// A client installed by the full installer has this version until its first
// update.
constexpr int kFirstVersion = 1000;
constexpr int kDefaultPort = 80;
constexpr char kDefaultHost[] = "127.0.0.1";
// The update list entry that asks clients below its version for a full
// reinstallation from [INSTALLVERSION].
constexpr char kInstallerEntry[] = "Ulmet_install.exe";

struct ServerPaths {
  std::string programConfig = "/UlLaunch/ULProgram.cfg";
  std::string updateList = "/Ulmet3/UpdateList.dat";
  std::string files = "/Ulmet3/files/";  // [UPDATESUBPATH]
  std::string hashList = "/Ulmet3/ULHashFile.dat";
  std::string installer = "/Ulmet3/Ulmet_install.exe";
  // [CHUNKLIST]; empty: the tree has no chunk indexes (a tree published
  // before they existed).
  std::string chunkList;
  // [PATCHLIST]; empty: the tree makes no patches (the default).
  std::string patchList;
};

// Where a new tree keeps its chunk list and indexes.
constexpr char kDefaultChunkList[] = "/Ulmet3/chunks/ULChunkList.dat";
// Where a tree made with patches keeps its patch list and patches.
constexpr char kDefaultPatchList[] = "/Ulmet3/patches/ULPatchList.dat";
// How many earlier versions of a file a release makes patches from.
constexpr int kDefaultPatchBases = 2;
// Files of at least this size get a chunk index; below it a whole download
// costs little.
constexpr unsigned long long kDefaultChunkIndexFrom = 4ull << 20;

// A server path's place in the tree: without its leading '/'.
std::string TreeRelative(const std::string& serverPath);

// The directory file with the one record of this system's instance.
std::string DirectoryFileText(const std::string& host, int port, const std::string& programConfig);

// The program configuration's sections in the order the updater documents
// them, with the values a first tree gets.
using Sections = std::vector<std::pair<std::string, std::string>>;
Sections DefaultProgramSections(const std::string& host, const ServerPaths& paths);
std::string ProgramConfigText(const Sections& sections);
// The section that turns the updater's verified-state record on, with the
// days within which every file is read again.
std::pair<std::string, std::string> VerifiedStateSection(int days);
// The days for a client whose reading again costs cost (ul::ReadCostOf, about
// its bytes) and its costliest file biggest, when each start reads again for
// about a second (init's "[PACE]"): the fewest, and never fewer than the
// updater's default, that keep a start's share (ul::DailyShareOf) within what
// one core's chained digest reads in a second on a fast machine (about 500 MB).
int VerifiedDaysFor(uint64_t cost, uint64_t biggest);
// "[PACE]" as init writes it: reads that reach a 1 Gbit/s line and a fast
// disk, and a second per start for reading again (see README.md).
std::pair<std::string, std::string> PaceSection();

// What the hash list leaves out unless the settings say otherwise: the
// updater and its copies (it replaces itself through the update list), the
// page relay component's set-aside copy and the crash logs. A name that
// ends in '/' is a folder with everything in it.
std::vector<std::string> DefaultHashExclusions();

}  // namespace ulp
