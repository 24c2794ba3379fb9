// Reparse points (junctions, symbolic links, mount points) in a path: a
// build with a release key writes nothing through one planted below the
// client folder, where it would lead a write to a file elsewhere.
#pragma once

// Whether path, which lies below folder, passes through a reparse point:
// every component after folder's own that exists is looked at, the last
// included (folder's own components are the player's choice and are not).
bool CrossesReparsePoint(const char* folder, const char* path);
