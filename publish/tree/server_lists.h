// The update list's and the hash list's lines as the tool writes them, and
// their reading back through the updater's own readers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ulp {

// The longest update list line, without its line feed, that the updater
// reads in one piece: its line buffer holds 1023 characters, the line feed
// included. A longer line arrives in pieces that each count as a line.
constexpr std::size_t kLongestListLine = 1022;

// The lines of one version (without line feeds): the version, then each
// entry after one blank, in order, a new line whenever the next entry would
// not fit. Every line carries the version.
std::vector<std::string> VersionLines(int version, const std::vector<std::string>& entries);

// The names a client at installedVersion collects from the update list file
// (read in text mode, as the updater reads it), in order, and the version it
// would then have. False when the reader refuses the file.
bool CollectAsClient(const std::filesystem::path& listFile, int installedVersion, std::vector<std::string>* names,
                     int* newVersion);

// The hash list's first line, and the line of a client file (name: path
// below the client folder, '/' between folders).
std::string HashListHeader();
std::string HashListLine(const std::string& name, int number, const std::string& digest);

// Whether the hash list leaves the client file name out: an exclusion that
// ends in '/' takes a folder with everything in it; letter case does not
// count.
bool HashExcluded(const std::string& name, const std::vector<std::string>& exclusions);

// How many entries the updater takes from the hash list file. Entries it
// refuses or never reaches are not counted.
std::size_t CountHashEntries(const std::filesystem::path& hashFile);

}  // namespace ulp
