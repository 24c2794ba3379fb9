// Starts another program and lets it run on alone.
#pragma once

// Starts commandLine (program and arguments; the program is found as
// CreateProcess finds it) shown normally, in the current folder, without
// waiting for it. When it cannot be started the system's text for the error
// appears in the plain system box and the result is false.
bool StartProgram(const char* commandLine);
