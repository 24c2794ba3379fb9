// Shared helpers of the test bed's Windows programs: UTF-8 conversion and
// the JSON-lines logs that the native scenario harness reads.
//
// Logs go into the folder named by the environment variable
// ULMET_TESTBED_LOG (a Windows path; under Wine "Z:/unix/path" works) or,
// when it is not set, into the folder of the program itself. Each program
// appends one JSON object per line to its own file there.
#pragma once

#include <windows.h>

#include <string>

#include "common/jsonl.h"

namespace tbw {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// ANSI (the process's code page) to UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
std::string Hex(const std::string& bytes);

std::wstring ModulePath();
std::wstring FileNameOf(const std::wstring& path);
std::wstring FolderOf(const std::wstring& path);
std::wstring CurrentDirectory();
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
long long NowMs();

std::wstring LogFolder();
// Appends the record (plus program, pid and time) to LogFolder()\file.
bool AppendLog(const wchar_t* file, tb::JsonRecord record);

// The class names of the test bed's own windows start with this, so that
// "tbctl quit" can close every stand-in at the end of a scenario.
constexpr wchar_t kClassPrefix[] = L"UlmetTestbed";

}  // namespace tbw
