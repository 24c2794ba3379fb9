// Start-up readers of the configuration server's files: each is fetched into
// the Windows folder's Temp folder under a name ending in '_', read by its
// reader in formats/, and deleted again; what it said goes into the run's
// configuration.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "formats/base/bounded.h"
#include "formats/lists/directory_file.h"
#include "formats/lists/hash_list.h"
#include "formats/lists/program_config.h"
#include "formats/lists/update_list.h"
#include "formats/trust/release_check.h"
#include "intake/intake.h"
#include "intake/verdict_trace.h"
#include "net/held_file_win.h"
#include "net/temp_fetch_win.h"

#ifndef ULMET_CONFIG_HOST
#error "ULMET_CONFIG_HOST must be set by the build"
#endif

namespace {

// FetchHeldToTemp with the run's release; a refusal by it is kept in
// config.releaseRefusal for the box that ends the run.
bool FetchToTemp(UpdateConfig& config, const char* host, const char* path, const char* name,
                 char (&local)[ul::kTextCap], ul::HeldFile* held) {
  bool refused = false;
  if (FetchHeldToTemp(config.release.get(), host, path, name, local, held, &refused)) return true;
  if (refused) config.releaseRefusal = ul::kReleaseListDiffers;
  return false;
}

// FetchToTemp, then parse on a text-mode stream over the held file; the
// local copy is deleted whatever the outcome.
bool ReadFetchedText(UpdateConfig& config, const char* host, const char* path, const char* name,
                     const std::function<bool(std::FILE*)>& parse) {
  char local[ul::kTextCap];
  ul::HeldFile held;
  if (!FetchToTemp(config, host, path, name, local, &held)) return false;
  std::FILE* f = held.TextStream();
  const bool ok = f != nullptr && parse(f);
  if (f != nullptr) std::fclose(f);
  held.Close();
  DeleteFileA(local);
  return ok;
}

}  // namespace

bool ReadDirectoryFile(UpdateConfig& config) {
  return ReadFetchedText(config, ULMET_CONFIG_HOST, kDirectoryFilePath, "global.cfg_",
                         [&config](std::FILE* f) { return ParseDirectoryFile(f, &config.directory); });
}

bool ReadProgramConfig(UpdateConfig& config) {
  return ReadFetchedText(config, config.directory.serverHost, config.directory.programConfigPath, "ULProgram.cfg_",
                         [&config](std::FILE* f) {
                           return ParseProgramConfig(f, config.isVista == 1, &RegistryKeyExists, &config.program);
                         });
}

bool ReadHashList(UpdateConfig& config) {
  return ReadFetchedText(config, config.directory.serverHost, config.program.hashListPath, "ULHashFile.dat_",
                         [&config](std::FILE* f) {
                           HashList list;
                           const bool any = ParseHashList(f, &list);
                           TraceRefusedHashLines(list.refused);
                           config.hashEntries.insert(config.hashEntries.end(), list.entries.begin(),
                                                     list.entries.end());
                           return any;
                         });
}

bool ReadUpdateList(UpdateConfig& config, UpdateFileList& list) {
  char local[ul::kTextCap];
  ul::HeldFile held;
  if (!FetchToTemp(config, config.directory.serverHost, config.program.updateListPath, "UpdateList.dat_", local,
                   &held)) {
    DebugTrace("Get UpdateList File.. failed..");
    return false;
  }
  std::FILE* f = held.TextStream();
  if (f == nullptr) {
    DebugTrace("[%s] file open failed..", local);
    return false;
  }
  std::vector<UpdateWord> words;
  const UpdateListVerdict verdict = list.ReadListFile(f, config.installedVersion, &words);
  std::fclose(f);
  held.Close();
  TraceUpdateWords(words);
  TraceUpdateListVerdict(verdict, local);
  if (list.selfUpdateMarked) config.selfUpdatePending = 1;
  if (list.majorUpdateMarked) config.majorUpdatePending = 1;
  if (verdict != kListRead) return false;
  DeleteFileA(local);
  return true;
}
