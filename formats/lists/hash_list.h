// Reader of the hash list: one line per client file with its expected
// digest, "fileName:entryNumber:digestHex:subPath".
//
// No Windows headers here: this builds natively for the sanitizer runs. The
// download and the temporary file belong to the updater's start-up.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/base/bounded.h"

struct HashEntry {
  char fileName[ul::kPathCap] = {0};
  int32_t entryNumber = 0;
  char digestHex[33] = {0};
  char subPath[ul::kPathCap] = {0};
  int32_t status = 0;  // the updater's comparison: 0 not compared, 1 matches, 2 differs or missing
};

// What the reader took from a hash list.
struct HashList {
  std::vector<HashEntry> entries;
  // Data lines passed over because their name or folder would leave the
  // client folder, as they stand (line feed removed).
  std::vector<std::string> refused;
};

// Appends one HashEntry (status 0) per data line of file, which the caller
// opened in text mode and closes. Comment lines (';' first) are skipped. A
// line with fewer than four fields, or with entry number 0, ends the reading.
// A line whose file name would leave the client folder (absolute, drive,
// "..") or whose sub-folder would, is passed over into list->refused. True
// when at least one entry was appended.
bool ParseHashList(std::FILE* file, HashList* list);

// Splits one hash list line (line feed removed) into entry; the line's text
// is cut into the fields' sizes. False when the line has fewer than four
// fields or its entry number is 0.
bool ParseHashLine(const char* line, HashEntry& entry);

// The entry's name below the client folder: its folder and file name joined.
// The comparison and the re-download both resolve this name to a path.
void HashEntryName(const HashEntry& entry, char (&out)[ul::kTextCap]);

// Where a differing file is fetched again: the update folder, then the
// file's path below the client folder as resolved (relative), with blanks
// as '!' and '/' between folders, the form in which the release publishes it.
void RedownloadPath(const char* updateSubPath, const char* relative, char (&out)[ul::kTextCap]);
