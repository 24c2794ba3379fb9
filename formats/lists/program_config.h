// Reader of the program configuration file: sections of one header line and
// one value line (server paths, maintenance mode, registry hive and keys,
// crash reports, installer and hash list paths, and the sections that older
// updaters pass over).
//
// No Windows headers here: this builds natively for the sanitizer runs. The
// download, the temporary file and the registry belong to the Windows side,
// which passes its key check in.
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/base/bounded.h"

// Whether the registry key path (or "path\subPath" when subPath is not null)
// can be opened in hive (1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE). The
// Windows side passes RegistryKeyExists itself.
using RegistryKeyCheck = bool (*)(const char* path, const char* subPath, int hive);

// "[VERIFIEDSTATE]": the record of files already read (its days when on).
constexpr int kVerifiedDaysDefault = 7;
constexpr int kVerifiedDaysMax = 3650;

// "[PACE]": how the updater paces its long reads. Each read of a download
// (a whole file or a range) and of the start's digest comparison is
// followed by a 1 ms pause that leaves the processor to the rest of the
// system; the section sets how many bytes a read may take before its pause,
// and how long a start may spend reading again files that the
// verified-state record vouches for, the ones read longest ago first.
// Without the section (and in older updaters, which pass over it) every
// value is the one below: 4,096 bytes, 32 KB, and the record read again
// whole once its days have run out.
//
// Value: words in pairs, in any order, the others passed over:
//   download N   bytes per download read, 4,096 to 4 MiB
//   digest N     bytes per digest read, 32 KB to 16 MiB, whole 32 KB
//   reread MS    milliseconds per start for reading files again, 0 to 60,000
// A number out of its range, or a word without one, keeps that default.
struct Pace {
  bool given = false;  // the section was there
  uint32_t downloadBytes = 4096;
  uint32_t digestBytes = 32768;
  uint32_t rereadMs = 0;  // 0: the record expires whole, as it always did
};
constexpr uint32_t kPaceDownloadMaxBytes = 4u << 20;
constexpr uint32_t kPaceDigestMaxBytes = 16u << 20;
constexpr uint32_t kPaceRereadMaxMs = 60000;

// The value of "[PACE]" into pace (which starts from the defaults).
void ParsePaceValue(const char* value, Pace* pace);

// What the program configuration says, as the reader fills it.
struct ProgramConfig {
  char updateSubPath[ul::kTextCap] = {0};   // [UPDATESUBPATH]
  char updateListPath[ul::kTextCap] = {0};  // [UPDATELIST]
  int32_t checkupMode = 0;                  // [CHECKUP] 0..2
  char checkupNotice[ul::kTextCap] = {0};   // [CHECKUPNOTICE]
  char registryPath[ul::kTextCap] = {0};    // [REGISTRYPATH]
  char registryNewPath[ul::kTextCap] = {0};  // [REGISTRYNEWPATH]
  int32_t registryHive = 1;  // [REGISTRY]: 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE
  // The first of the client's possible keys that exists ([REGISTRYULMETPATH]
  // wins over the two above).
  char clientRegistryKey[ul::kTextCap] = {0};
  char updaterPathValueName[ul::kTextCap] = {0};  // [REGISTRYKEY]
  uint8_t crashReportEnabled = 0;                 // [EXCEPTION] 1
  char crashReportHost[ul::kTextCap] = {0};       // [EXCEPTIONHOST]
  char crashReportPath[ul::kTextCap] = {0};       // [EXCEPTIONPATH]
  char installerPath[ul::kTextCap] = {0};         // [INSTALLVERSION]
  char hashListPath[ul::kTextCap] = {0};          // [FILEHASH]
  // "[CHUNKLIST]": the server path of the list of files that have a chunk
  // index (formats/chunks/chunk_list.h); empty when the tree has none, and
  // then every file travels whole.
  char chunkListPath[ul::kTextCap] = {0};
  // "[PATCHLIST]": the server path of the list of binary patches
  // (formats/patches/patch_list.h); empty when the tree has none, and then
  // no file is made from a patch.
  char patchListPath[ul::kTextCap] = {0};
  // "[VERIFIEDSTATE]": the days after which the record's full pass goes
  // stale, or 0 (off, the default) when the section does not turn it on.
  int32_t verifiedStateDays = 0;
  Pace pace;  // "[PACE]"
};

// Reads every section of file, which the caller opened in text mode and
// closes, into config. The three registry path sections ask keyExists about
// their key in the hive config->registryHive holds at that moment (so a
// "[REGISTRY]" section counts only for the sections after it); a null
// keyExists means no key exists. On Vista "[REGISTRY]" always selects
// HKEY_CURRENT_USER.
//
// True when the file was read to its end (an empty file too). False when a
// header has no value line, "[INSTANCENUMBER]" is not 5001, "[CHECKUP]" is
// outside 0..2, or "[REGISTRY]" names no known hive (not on Vista); fields
// set by earlier sections keep their values.
bool ParseProgramConfig(std::FILE* file, bool isVista, RegistryKeyCheck keyExists, ProgramConfig* config);

// The value of "[VERIFIEDSTATE]": "on" (the default number of days) or
// "on N" with N days from 1 to kVerifiedDaysMax. The number of days, or 0
// (off) for "off" and anything else: a value this updater cannot read
// leaves every file to be read.
int ParseVerifiedStateValue(const char* value);
