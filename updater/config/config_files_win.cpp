// Start-up readers of the configuration server's files: each is fetched into
// the Windows folder's Temp folder under a name ending in '_', read by its
// portable parser and deleted again.
#include <windows.h>

#include <cstdio>

#include "common/bounded.h"
#include "config/directory_file.h"
#include "config/hash_list.h"
#include "config/program_config.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "net/http_downloader_win.h"

#ifndef ULMET_CONFIG_HOST
#error "ULMET_CONFIG_HOST must be set by the build"
#endif

namespace {
// Downloads host/path into "<Windows>\Temp\<name>"; local receives the path.
bool FetchToTemp(const char* host, const char* path, const char* name,
                 char (&local)[ul::kTextCap]) {
  char windows[ul::kTextCap];
  if (GetWindowsDirectoryA(windows, sizeof windows) == 0) return false;
  ul::Format(local, "%s\\Temp\\%s", windows, name);
  // An empty answer writes no file; a copy left by an earlier run must not
  // be read in its place.
  DeleteFileA(local);
  CHttpDownloader downloader;
  return downloader.DownloadFile(host, path, local, nullptr, nullptr) == 1;
}
}  // namespace

bool UpdateConfig::ReadDirectoryFile() {
  char local[ul::kTextCap];
  if (!FetchToTemp(ULMET_CONFIG_HOST, "./UlLaunch/global_Ulmet.cfg", "global.cfg_", local))
    return false;
  FILE* f = std::fopen(local, "rt");
  if (f == nullptr) {
    DeleteFileA(local);
    return false;
  }
  bool ok = ParseDirectoryFile(f, *this);
  std::fclose(f);
  DeleteFileA(local);
  return ok;
}

bool UpdateConfig::ReadProgramConfig() {
  char local[ul::kTextCap];
  if (!FetchToTemp(serverHost, programConfigPath, "ULProgram.cfg_", local)) return false;
  FILE* f = std::fopen(local, "rt");
  if (f == nullptr) {
    DeleteFileA(local);
    return false;
  }
  bool ok = ParseProgramConfig(f, *this, &RegistryKeyExists);
  std::fclose(f);
  DeleteFileA(local);
  return ok;
}

bool UpdateConfig::ReadHashList() {
  char local[ul::kTextCap];
  if (!FetchToTemp(serverHost, hashListPath, "ULHashFile.dat_", local)) return false;
  FILE* f = std::fopen(local, "rt");
  if (f == nullptr) {
    DeleteFileA(local);
    return false;
  }
  bool ok = ParseHashList(f, hashEntries);
  std::fclose(f);
  DeleteFileA(local);
  return ok;
}
