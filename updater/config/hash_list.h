// Reader of the hash list: one line per client file with its expected
// digest, "fileName:entryNumber:digestHex:subPath".
//
// No Windows headers here: this builds natively for the sanitizer runs. The
// download and the temporary file belong to UpdateConfig::ReadHashList.
#pragma once

#include <cstdio>
#include <vector>

struct HashEntry;

// Appends one HashEntry (status 0) per data line of file, which the caller
// opened in text mode and closes. Comment lines (';' first) are skipped. A
// line with fewer than four fields, or with entry number 0, ends the reading.
// A line whose file name would leave the client folder (absolute, drive,
// "..") or whose sub-folder would, is traced and passed over. True when at
// least one entry was appended.
bool ParseHashList(std::FILE* file, std::vector<HashEntry>& entries);

// Splits one hash list line (line feed removed) into entry; the line's text
// is cut into the fields' sizes. False when the line has fewer than four
// fields or its entry number is 0.
bool ParseHashLine(const char* line, HashEntry& entry);
