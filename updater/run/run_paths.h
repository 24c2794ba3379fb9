// The one way from a name to the path that a file operation uses (the
// fixed names are formats/lists/client_files.h).
#pragma once

#include "formats/base/bounded.h"
#include "formats/lists/client_files.h"

// The path below the client folder that name resolves to (see
// ul::ResolveInsideFolder). False, traced, when name would leave the folder,
// names the folder itself or does not fit, and in a build with a release key
// when it passes through a reparse point below the folder (a junction or a
// link planted there). Every file operation on a name that came from the
// server, and on the fixed names above, takes its path from here.
bool ClientPath(const char* name, char (&out)[ul::kPathCap]);

// The same, with where the resolved name begins in out: the part below the
// client folder.
bool ClientPath(const char* name, char (&out)[ul::kPathCap], const char** relative);

struct HashEntry;
// Where a hash entry's file lies: its folder and its name joined, then
// resolved below the client folder (with relative as in ClientPath). The
// comparison reads this path and the re-download writes it, so the two
// always agree.
bool HashEntryPath(const HashEntry& e, char (&out)[ul::kPathCap], const char** relative = nullptr);

// The full installer's path in the Windows folder's Temp folder. False when
// the Windows folder is unknown.
bool InstallerPath(char (&out)[ul::kPathCap]);
