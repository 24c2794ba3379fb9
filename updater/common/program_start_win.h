// Starts another program and lets it run on alone.
#pragma once

#include "formats/base/owned_win.h"

// Starts the program module with commandLine (whose first word is the name
// the program sees itself started under), shown normally, in the current
// folder, without waiting for it. module goes to Windows as the program to
// start, so that nothing is searched for: a command line whose program path
// holds a blank could otherwise start "C:\Program.exe". When it cannot be
// started the system's text for the error appears in the plain system box
// and the result is false.
bool StartProgram(const char* module, const char* commandLine);

// Starts the system's own program name ("regsvr32.exe") from the system
// folder, never a program of that name found elsewhere (the client folder,
// where a release's files land, comes first in Windows' search), with
// commandLine, shown normally, without a box. Like WinExec it waits until
// the program is idle or gone (at most 30 s), not for its end. process, when
// given, receives the process's handle. False when it cannot be started.
bool StartSystemProgram(const char* name, const char* commandLine, ul::Handle* process = nullptr);
