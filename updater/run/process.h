// Whether a program runs, by its executable file name.
#pragma once

// True when a running process has exactly this executable file name,
// compared without regard to letter case. False for a null or empty name
// or when the process list cannot be taken.
bool IsProcessRunning(const char* exeName);
