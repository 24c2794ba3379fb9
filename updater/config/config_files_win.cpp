// Start-up readers of the configuration server's files: each is fetched into
// the Windows folder's Temp folder under a name ending in '_', read by its
// portable parser and deleted again.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>
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

// Fetches the file, hands it open in text mode to parse (with its local
// path), then deletes the local copy whatever the outcome.
template <typename Parse>
bool ReadFetched(const char* host, const char* path, const char* name, Parse parse) {
  char local[ul::kTextCap];
  if (!FetchToTemp(host, path, name, local)) return false;
  FILE* f = std::fopen(local, "rt");
  bool ok = false;
  if (f != nullptr) {
    ok = parse(f, local);
    std::fclose(f);
  }
  DeleteFileA(local);
  return ok;
}

// The whole fetched file as bytes, up to the manifest's limit; the local
// copy is deleted.
bool FetchBytes(const char* host, const char* path, const char* name, std::string* bytes) {
  char local[ul::kTextCap];
  if (!FetchToTemp(host, path, name, local)) return false;
  FILE* f = std::fopen(local, "rb");
  bool ok = f != nullptr;
  if (ok) {
    char buffer[4096];
    std::size_t n;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      bytes->append(buffer, n);
      ok = bytes->size() <= ul::kManifestMaxBytes;
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
  }
  DeleteFileA(local);
  return ok;
}
}  // namespace

bool UpdateConfig::ReadDirectoryFile() {
  return ReadFetched(ULMET_CONFIG_HOST, kDirectoryFilePath, "global.cfg_",
                     [this](FILE* f, const char*) { return ParseDirectoryFile(f, *this); });
}

bool UpdateConfig::ReadProgramConfig() {
  return ReadFetched(serverHost, programConfigPath, "ULProgram.cfg_", [this](FILE* f, const char*) {
    return ParseProgramConfig(f, *this, &RegistryKeyExists);
  });
}

bool UpdateConfig::ReadHashList() {
  return ReadFetched(serverHost, hashListPath, "ULHashFile.dat_", [this](FILE* f, const char* local) {
    return SignedAsReleased(hashListPath, local) && ParseHashList(f, hashEntries);
  });
}

int UpdateConfig::CheckSignedRelease(const char* keyText) {
  char manifestPath[ul::kTextCap] = {0};
  char signaturePath[ul::kTextCap] = {0};
  std::string manifest;
  std::string signature;
  if (!ul::ReleaseFilePaths(updateListPath, manifestPath, signaturePath) ||
      !FetchBytes(serverHost, signaturePath, "ULRelease.sig_", &signature) ||
      !FetchBytes(serverHost, manifestPath, "ULRelease.dat_", &manifest)) {
    DebugTrace("Release check: no manifest or signature at %s", manifestPath);
    return ul::kReleaseMissing;
  }
  // The installed version as the first-run check reads it; none on a first
  // installation.
  char installed[ul::kTextCap] = {0};
  int32_t installedVersion = -1;
  if (ReadRegistryString(clientRegistryKey, "AppVersion", installed, registryHive) &&
      installed[0] != '\0')
    installedVersion = std::atoi(installed);
  std::unique_ptr<ul::ReleaseManifest> checked(new (std::nothrow) ul::ReleaseManifest());
  if (checked == nullptr) return ul::kReleaseMissing;
  const int refusal = ul::CheckRelease(keyText, manifest, signature, installedVersion, checked.get());
  if (refusal == 0) release = std::move(checked);
  return refusal;
}

bool UpdateConfig::SignedAsReleased(const char* serverPath, const char* localPath) {
  if (release == nullptr || ul::FileMatchesRelease(*release, serverPath, localPath)) return true;
  releaseRefusal = ul::kReleaseListDiffers;
  return false;
}

