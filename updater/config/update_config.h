// The run's one configuration object: launch data, server locations, the
// program configuration file's sections, registry location, folders, run
// flags and the expected digests of the client's files.
//
// Plain data with fixed 1025-byte ANSI text fields. The header needs no
// Windows API so that the readers that fill it build natively too; the
// operations that reach the network or the registry are defined in the
// Windows-only sources of their subsystems.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/bounded.h"
#include "config/release_manifest.h"

struct HashEntry {
  char fileName[ul::kPathCap] = {0};
  int32_t entryNumber = 0;
  char digestHex[33] = {0};
  char subPath[ul::kPathCap] = {0};
  int32_t status = 0;  // 0 not compared, 1 matches, 2 differs or missing
};

class UpdateConfig {
 public:
  UpdateConfig() = default;
  virtual ~UpdateConfig() = default;
  UpdateConfig(const UpdateConfig&) = delete;
  UpdateConfig& operator=(const UpdateConfig&) = delete;

  // Launch route (run/launch_info.cpp). 0 valid, 1 invalid, 2 malformed.
  int CheckLaunchInfo(int argc, char** argv);

  // Start-up reading steps; each true when the run may go on.
  bool ReadDirectoryFile();
  bool ReadProgramConfig();
  bool ReadHashList();
  void DetectVista();

  // A build with a release key (its public key line), before the directory
  // file: fetches the manifest and its signature from beside the directory
  // file on the configuration host, checks them and keeps the manifest in
  // release, against which every later fetch is checked (a refusal there
  // sets releaseRefusal). 0, or the ul::kRelease... code of the refusal.
  int FetchSignedRelease(const char* keyText);
  // Once the program configuration is read: it must name the release's
  // files for their roles, and the release must be no older than the
  // installed version (where the configuration says it lives) and the
  // newest release this computer accepted before, which it then records.
  // 0 without a release; otherwise 0 or the refusal's code.
  int CheckReleaseBinding();

  const char* GetClientRegistryKey() const { return clientRegistryKey; }
  const char* GetRegistryPath() const { return registryPath; }
  const char* GetRegistryNewPath() const { return registryNewPath; }

  int32_t launchKind = 0;
  int32_t installedVersion = 1000;
  uint8_t clientRunning = 0;
  uint8_t selfUpdatePending = 0;
  // Written by a worker thread, read by the user-interface thread: the
  // worker sets followUpPending before updateFinished, and the timer reads
  // updateFinished before anything the worker wrote.
  std::atomic<uint8_t> followUpPending{0};
  std::atomic<uint8_t> updateFinished{0};
  char launchArgument[ul::kTextCap] = {0};
  char launchToken[33] = {0};
  char serverHost[ul::kTextCap] = {0};
  int32_t serverPort = 80;
  char programConfigPath[ul::kTextCap] = {0};
  char updateSubPath[ul::kTextCap] = {0};
  char updateListPath[ul::kTextCap] = {0};
  int32_t checkupMode = 0;
  char checkupNotice[ul::kTextCap] = {0};
  char registryPath[ul::kTextCap] = {0};
  char registryNewPath[ul::kTextCap] = {0};
  int32_t registryHive = 1;  // 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE
  char clientRegistryKey[ul::kTextCap] = {0};
  char updaterPathValueName[ul::kTextCap] = {0};
  char updaterFolder[ul::kTextCap] = {0};
  char clientFolder[ul::kTextCap] = {0};
  uint8_t crashReportEnabled = 0;
  char crashReportHost[ul::kTextCap] = {0};
  char crashReportPath[ul::kTextCap] = {0};
  uint8_t majorUpdatePending = 0;
  char installerPath[ul::kTextCap] = {0};
  char hashListPath[ul::kTextCap] = {0};
  // "[CHUNKLIST]": the server path of the list of files that have a chunk
  // index (chunks/chunk_list.h); empty when the tree has none, and then
  // every file travels whole.
  char chunkListPath[ul::kTextCap] = {0};
  std::vector<HashEntry> hashEntries;
  uint8_t hashCheckDone = 0;
  // The verified-state record (run/verified_files.h): the days after which
  // its full pass goes stale, or 0 (off, the default) when the program
  // configuration does not turn it on.
  int32_t verifiedStateDays = 0;
  int32_t isVista = 0;
  // The signed release that every fetched file must match: null in a build
  // without a release key. Set once at start-up, read by the workers.
  std::unique_ptr<ul::ReleaseManifest> release;
  // Why a list was refused by the release check (ul::kRelease...), or 0.
  int32_t releaseRefusal = 0;
};

static_assert(sizeof(std::atomic<uint8_t>) == 1, "the run flags stay one byte each");

// The run's configuration, owned by the application object for the whole
// process (defined with it in run/app.cpp).
UpdateConfig* GetConfig();
