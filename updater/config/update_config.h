// The run's one configuration object: launch data, what the directory file
// and the program configuration said (as formats/ read them), the registry
// location, folders, run flags and the expected digests of the client's
// files. The start-up (intake/) fills it; every step of the run reads it.
//
// Plain data. The header needs no Windows API so that portable code can
// name the fields too.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/lists/directory_file.h"
#include "formats/lists/hash_list.h"
#include "formats/lists/program_config.h"
#include "formats/trust/release_manifest.h"

class UpdateConfig {
 public:
  UpdateConfig() = default;
  virtual ~UpdateConfig() = default;
  UpdateConfig(const UpdateConfig&) = delete;
  UpdateConfig& operator=(const UpdateConfig&) = delete;

  int32_t launchKind = 0;
  int32_t installedVersion = 1000;
  uint8_t clientRunning = 0;
  uint8_t selfUpdatePending = 0;
  uint8_t majorUpdatePending = 0;
  // Written by a worker thread, read by the user-interface thread: the
  // worker sets followUpPending before updateFinished, and the timer reads
  // updateFinished before anything the worker wrote.
  std::atomic<uint8_t> followUpPending{0};
  std::atomic<uint8_t> updateFinished{0};
  char launchArgument[ul::kTextCap] = {0};
  char launchToken[33] = {0};
  // Record 5001 of the directory file: the host of every later fetch.
  DirectoryRecord directory;
  // The program configuration's sections.
  ProgramConfig program;
  char updaterFolder[ul::kTextCap] = {0};
  char clientFolder[ul::kTextCap] = {0};
  std::vector<HashEntry> hashEntries;
  uint8_t hashCheckDone = 0;
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
