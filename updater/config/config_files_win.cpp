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
#include "config/temp_files_win.h"
#include "config/update_config.h"
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

bool FetchToTemp(const char* host, const char* path, const char* name,
                 char (&local)[ul::kTextCap]) {
  char temp[ul::kTextCap];
  if (!TempFolder(temp)) return false;
  ul::Format(local, "%s\\%s", temp, name);
  DeleteFileA(local);
  CHttpDownloader downloader;
  return downloader.DownloadFile(host, path, local, nullptr, nullptr) == 1;
}

namespace {

// Fetches the file, hands it open in text mode to parse, then deletes the
// local copy whatever the outcome.
template <typename Parse>
bool ReadFetched(const char* host, const char* path, const char* name, Parse parse) {
  char local[ul::kTextCap];
  if (!FetchToTemp(host, path, name, local)) return false;
  FILE* f = std::fopen(local, "rt");
  bool ok = false;
  if (f != nullptr) {
    ok = parse(f);
    std::fclose(f);
  }
  DeleteFileA(local);
  return ok;
}
}  // namespace

bool UpdateConfig::ReadDirectoryFile() {
  return ReadFetched(ULMET_CONFIG_HOST, kDirectoryFilePath, "global.cfg_",
                     [this](FILE* f) { return ParseDirectoryFile(f, *this); });
}

bool UpdateConfig::ReadProgramConfig() {
  return ReadFetched(serverHost, programConfigPath, "ULProgram.cfg_", [this](FILE* f) {
    return ParseProgramConfig(f, *this, &RegistryKeyExists);
  });
}

bool UpdateConfig::ReadHashList() {
  return ReadFetched(serverHost, hashListPath, "ULHashFile.dat_",
                     [this](FILE* f) { return ParseHashList(f, hashEntries); });
}

