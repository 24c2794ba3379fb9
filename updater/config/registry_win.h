// Registry access of the updater: the client's installation values, the
// move of the per-machine key to the current user on Vista, and the key tree
// copies and deletions of the previous-version removal.
//
// Hive numbers: 2 = HKEY_LOCAL_MACHINE, any other value = HKEY_CURRENT_USER.
// The text operations take a flag instead (true = HKEY_CURRENT_USER).
// Every failure is silent: reads give false or an empty text, writes and
// deletions report nothing.
#pragma once

#include <windows.h>

#include <string>

// Reads a value into buffer (ul::kTextCap bytes), zero-terminated; a longer
// value is cut to 1024 characters. False when the key or value is missing.
bool ReadRegistryString(const char* key, const char* valueName, char* buffer, int hive);

// Creates the key when missing and stores text as REG_SZ (length without
// the terminator, so an empty text is a value of length 0). Always true.
bool WriteRegistryString(const char* key, const char* valueName, const char* text, int hive);

// True when "path\subPath" (or path alone when subPath is null or empty)
// can be opened. Never creates the key.
bool RegistryKeyExists(const char* path, const char* subPath, int hive);

// Reads at most 255 bytes of a value; an empty text when it is missing.
std::string ReadRegistryText(const char* key, const char* valueName, bool currentUser);

// Creates the key when missing and stores text as REG_SZ.
void WriteRegistryText(const char* key, const char* valueName, const char* text, bool currentUser);

// Copies the values and sub keys of source into HKEY_CURRENT_USER below
// destination ("Software\Ulmet" when null). Values of any type arrive as
// REG_SZ text cut at their first zero byte.
void CopyKeyTree(HKEY source, const char* destination);

// Copies "sourceParent\sourceName" of sourceHive into
// HKEY_CURRENT_USER\Software\Ulmet.
void CopyKey(const char* sourceParent, const char* sourceName, int sourceHive);

// Deletes parent\keyName with everything below it; keyName may hold a
// backslash ("Zolte\ULMET3").
void DeleteKeyTree(const char* parent, const char* keyName, int hive);

// Deletes every key below root\path, deepest first (root\path itself
// stays). 0, or the error that stopped the walk.
long DeleteSubkeys(HKEY root, const char* path);

// 1 when the system's product name (HKEY_LOCAL_MACHINE, Windows NT's
// CurrentVersion) says Vista, in any letter case; 0 otherwise.
int IsVistaSystem();

// On Vista: moves HKEY_LOCAL_MACHINE\Software\ULMET to the current user.
void PrepareRegistryForVista();

// The registry root of a hive number.
HKEY RegistryRoot(int hive);
