// Start-up readers of the configuration server's files: each is fetched into
// the Windows folder's Temp folder under a name ending in '_', read by its
// portable parser and deleted again.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/bounded.h"
#include "common/trace.h"
#include "config/directory_file.h"
#include "config/hash_list.h"
#include "config/program_config.h"
#include "config/registry_win.h"
#include "config/release_check.h"
#include "config/temp_files_win.h"
#include "config/update_config.h"
#include "net/held_file_win.h"
#include "net/http_downloader_win.h"

#ifndef ULMET_CONFIG_HOST
#error "ULMET_CONFIG_HOST must be set by the build"
#endif

bool TempFolder(char (&out)[ul::kTextCap]) {
  char windows[ul::kTextCap];
  if (GetWindowsDirectoryA(windows, sizeof windows) == 0) return false;
  ul::Format(out, "%s\\Temp", windows);
  return true;
}

bool FetchHeldToTemp(const ul::ReleaseManifest* release, const char* host, const char* path, const char* name,
                     char (&local)[ul::kTextCap], ul::HeldFile* held, bool* refused) {
  *refused = false;
  char temp[ul::kTextCap];
  if (!TempFolder(temp)) return false;
  ul::Format(local, "%s\\%s", temp, name);
  DeleteFileA(local);
  CHttpDownloader downloader(release);
  if (downloader.DownloadFile(host, path, local, nullptr, nullptr, held) == 1) return true;
  *refused = downloader.RefusedByRelease();
  return false;
}

bool FetchToTemp(UpdateConfig& config, const char* host, const char* path, const char* name,
                 char (&local)[ul::kTextCap], ul::HeldFile* held) {
  bool refused = false;
  if (FetchHeldToTemp(config.release.get(), host, path, name, local, held, &refused)) return true;
  if (refused) config.releaseRefusal = ul::kReleaseListDiffers;
  return false;
}

bool ReadFetchedText(UpdateConfig& config, const char* host, const char* path, const char* name,
                     const std::function<bool(std::FILE*, const char*)>& parse) {
  char local[ul::kTextCap];
  ul::HeldFile held;
  if (!FetchToTemp(config, host, path, name, local, &held)) return false;
  std::FILE* f = held.TextStream();
  const bool ok = f != nullptr && parse(f, local);
  if (f != nullptr) std::fclose(f);
  held.Close();
  DeleteFileA(local);
  return ok;
}

bool UpdateConfig::ReadDirectoryFile() {
  return ReadFetchedText(*this, ULMET_CONFIG_HOST, kDirectoryFilePath, "global.cfg_",
                         [this](std::FILE* f, const char*) { return ParseDirectoryFile(f, *this); });
}

bool UpdateConfig::ReadProgramConfig() {
  return ReadFetchedText(*this, serverHost, programConfigPath, "ULProgram.cfg_",
                         [this](std::FILE* f, const char*) {
                           return ParseProgramConfig(f, *this, &RegistryKeyExists);
                         });
}

bool UpdateConfig::ReadHashList() {
  return ReadFetchedText(*this, serverHost, hashListPath, "ULHashFile.dat_",
                         [this](std::FILE* f, const char*) { return ParseHashList(f, hashEntries); });
}
