// Where the files fetched from the configuration server wait to be read:
// the Windows folder's Temp folder, under names ending in '_'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/base/bounded.h"

namespace ul {
class HeldFile;
class ReleaseManifest;
}

// "<Windows folder>\Temp". False when the Windows folder is unknown.
bool TempFolder(char (&out)[ul::kTextCap]);

// Downloads host/path into "<Temp folder>\<name>" and holds it open (see
// ul::HeldFile) for the caller to read; local receives that path. An
// earlier run's copy is deleted first: an empty answer writes no file (and
// holds none), and the old one must not be read in its place. With release,
// what arrives must be what it records; *refused says when it was not. A
// body longer than limit bytes (0: no limit) is refused as it arrives.
bool FetchHeldToTemp(const ul::ReleaseManifest* release, const char* host, const char* path, const char* name,
                     char (&local)[ul::kTextCap], ul::HeldFile* held, bool* refused, uint64_t limit = 0);

// A small server file (a list or an index) fetched through the Temp folder
// under tempName and read whole into bytes, through the handle that held it
// from its check on; the copy goes afterwards. False when it could not be
// fetched, is longer than limit or differs from the release (with one).
bool FetchSmallFile(const ul::ReleaseManifest* release, const char* host, const char* path, const char* tempName,
                    std::size_t limit, std::string* bytes);
