// Where the files fetched from the configuration server wait to be read:
// the Windows folder's Temp folder, under names ending in '_'.
#pragma once

#include "common/bounded.h"

// "<Windows folder>\Temp". False when the Windows folder is unknown.
bool TempFolder(char (&out)[ul::kTextCap]);

// Downloads host/path into "<Temp folder>\<name>"; local receives that path.
// An earlier run's copy is deleted first: an empty answer writes no file,
// and the old one must not be read in its place.
bool FetchToTemp(const char* host, const char* path, const char* name,
                 char (&local)[ul::kTextCap]);
