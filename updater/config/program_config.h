// Reader of the program configuration file: sections of one header line and
// one value line that fill UpdateConfig (server paths, maintenance mode,
// registry hive and keys, crash reports, installer and hash list paths).
//
// No Windows headers here: this builds natively for the sanitizer runs. The
// download, the temporary file and the registry belong to the Windows side,
// which passes its key check in.
#pragma once

#include <cstdio>

class UpdateConfig;

// Whether the registry key path (or "path\subPath" when subPath is not null)
// can be opened in hive (1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE). The
// Windows side passes RegistryKeyExists itself.
using RegistryKeyCheck = bool (*)(const char* path, const char* subPath, int hive);

// Reads every section of file, which the caller opened in text mode and
// closes. The three registry path sections ask keyExists about their key in
// the hive config.registryHive holds at that moment (so a "[REGISTRY]"
// section counts only for the sections after it); a null keyExists means no
// key exists. config.isVista must already be set: on Vista "[REGISTRY]"
// always selects HKEY_CURRENT_USER.
//
// True when the file was read to its end (an empty file too). False when a
// header has no value line, "[INSTANCENUMBER]" is not 5001, "[CHECKUP]" is
// outside 0..2, or "[REGISTRY]" names no known hive (not on Vista); fields
// set by earlier sections keep their values.
bool ParseProgramConfig(std::FILE* file, UpdateConfig& config, RegistryKeyCheck keyExists);
