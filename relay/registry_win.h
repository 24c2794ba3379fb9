// What the component reads from the registry: the system's product name
// (Vista keeps the client's data under the current user) and the client's
// running mark.
#pragma once

#include <windows.h>

namespace bvx {

constexpr int kRegPathCap = 257;   // base key + "\Main"
constexpr int kRegValueCap = 256;  // a value of at most 255 bytes + terminator

// Set by CheckOsVersion at the start of every call: 1 on Vista, else 0.
extern int isVista;

// Reads a string value of at most 255 bytes into buffer, which is always
// terminated. 1 when the value could be read, else 0.
int ReadRegString(HKEY hive, const char* subKey, const char* valueName, char (&buffer)[kRegValueCap]);

// 1 when the key base\sub (base alone when sub is empty) can be opened.
int RegKeyExists(HKEY hive, const char* base, const char* sub);

// Sets isVista from the product name.
void CheckOsVersion();

// Writes the first client key "<base>\Main" that exists into path, in the
// order that isVista selects; path is empty when none exists.
void SetRegKeySubPath(char (&path)[kRegPathCap]);

// Reads "Running" below path and returns 1 when it is "1"; the text read
// (empty when nothing could be read) is left in value.
int GetRunningValue(const char* path, char (&value)[kRegValueCap]);

}  // namespace bvx
