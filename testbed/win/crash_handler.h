// A client's crash handler, as a game links one: an unhandled exception
// writes "<log folder>\<uid>_exception.log" in the form the updater reads
// and posts (updater/crash/crash_log.h), then ends the process. The fault
// and every stack line give the module and the logical address (section
// number from 1, and the offset in that section), the way the report
// service turns them back into addresses for its symbols.
//
// The stack is walked along the frame pointers (EBP), so the code it is
// meant to see is built with -fno-omit-frame-pointer; the walk stops at
// the first frame that is not readable, not above the one before, or after
// kMaxStackLines.
#pragma once

namespace tbw {

constexpr int kMaxStackLines = 64;

// Installs the handler. version is the client's version as its log says it
// ("Version : 1004"); logFolder and uid name the file. The strings must
// outlive the process's run (the handler keeps the pointers).
void InstallCrashHandler(const char* version, const char* logFolder, const char* uid);

}  // namespace tbw
