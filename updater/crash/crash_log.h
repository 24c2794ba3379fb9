// Reading of the client's crash logs: the five summary fields that go with
// an upload (client version, fault offset and module, offset and module of
// the last stack line).
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdio>

// Capacities the outputs of ParseCrashLog need (including the terminator).
constexpr std::size_t kCrashVersionCap = 8;    // 7 characters
constexpr std::size_t kCrashAddressCap = 9;    // 8 characters
constexpr std::size_t kCrashModuleCap = 1024;  // 1023 characters

// The summary of one crash log, zero-filled on construction.
struct CrashLogFields {
  char ver[kCrashVersionCap] = {0};
  char fadd[kCrashAddressCap] = {0};
  char fmod[kCrashModuleCap] = {0};
  char ladd[kCrashAddressCap] = {0};
  char lmod[kCrashModuleCap] = {0};
};

// Reads the crash log at path (text mode) into the five fields, which the
// caller zero-filled and which hold at least the capacities above. A field
// the log does not provide stays empty. A null or empty path, or a file that
// cannot be opened, leaves every output untouched.
//  ver:  up to 7 characters from two after the first ':' of the line holding
//        "Version : " (a shorter version keeps the line feed after it);
//  fadd: the 8 characters after the second ':' of the "Fault address:" line;
//  fmod: that line's text after its last backslash, line feed removed;
//  ladd, lmod: the same from the last line with a backslash after the
//        "Address   Frame" header, up to the "//====..." end line.
// A fault line without a second ':' leaves fadd empty; a stack line with a
// backslash but no ':' empties ladd, so ladd and lmod always describe the
// same line.
void ParseCrashLog(const char* path, char* fadd, char* fmod, char* ladd, char* lmod, char* ver);
void ParseCrashLog(const char* path, CrashLogFields& fields);

// The same over an open stream, which the caller closes.
void ParseCrashLogStream(std::FILE* file, char* fadd, char* fmod, char* ladd, char* lmod, char* ver);
