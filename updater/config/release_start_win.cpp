// The start of a run of an updater built with a release key: the signed
// release is fetched from beside the directory file before anything else,
// so that the directory file and the program configuration are checked
// against it like every later file; once the configuration is read, it
// must name the files the release binds to each role, and the release must
// be no older than what this computer has had.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "common/bounded.h"
#include "common/trace.h"
#include "config/registry_win.h"
#include "config/release_check.h"
#include "config/release_roles.h"
#include "config/temp_files_win.h"
#include "config/update_config.h"
#include "net/held_file_win.h"

namespace {

// The newest release a keyed run on this computer has accepted. It is kept
// apart from the client's own key, which the program configuration names:
// a run that finds no installation still knows which releases are older.
const char kNewestReleaseKey[] = "Software\\ULPatchwell";
const char kNewestReleaseValue[] = "ReleaseVersion";
constexpr int kCurrentUser = 1;
constexpr std::size_t kSignatureMaxBytes = 4096;

int32_t NewestReleaseSeen() {
  char text[ul::kTextCap] = {0};
  if (!ReadRegistryString(kNewestReleaseKey, kNewestReleaseValue, text, kCurrentUser) ||
      text[0] == '\0')
    return -1;
  return std::atoi(text);
}

// The whole fetched file, read through the held copy; the copy is deleted.
bool FetchBytes(UpdateConfig& config, const char* path, const char* name, std::size_t limit,
                std::string* bytes) {
  char local[ul::kTextCap];
  ul::HeldFile held;
  if (!FetchToTemp(config, ULMET_CONFIG_HOST, path, name, local, &held)) return false;
  const bool ok = held.ReadAll(limit, bytes);
  held.Close();
  DeleteFileA(local);
  return ok;
}

}  // namespace

int UpdateConfig::FetchSignedRelease(const char* keyText) {
  char manifestPath[ul::kTextCap];
  char signaturePath[ul::kTextCap];
  ul::LaunchReleasePaths(manifestPath, signaturePath);
  std::string manifest;
  std::string signature;
  if (!FetchBytes(*this, signaturePath, "ULRelease2.sig_", kSignatureMaxBytes, &signature) ||
      !FetchBytes(*this, manifestPath, "ULRelease2.dat_", ul::kManifestMaxBytes, &manifest)) {
    DebugTrace("Release check: no manifest or signature at %s", manifestPath);
    return ul::kReleaseMissing;
  }
  std::unique_ptr<ul::ReleaseManifest> checked(new (std::nothrow) ul::ReleaseManifest());
  if (checked == nullptr) return ul::kReleaseMissing;
  const int refusal =
      ul::CheckRelease(keyText, manifest, signature, ul::kRoleFormat, -1, checked.get());
  if (refusal == 0) release = std::move(checked);
  return refusal;
}

int UpdateConfig::CheckReleaseBinding() {
  if (release == nullptr) return 0;
  int refusal = ul::CheckRoles(release->roles, *this);
  // The installed version where the signed configuration says it lives. A
  // configuration that names no existing key has none: the empty key would
  // read the hive's own values.
  int32_t installed = -1;
  char text[ul::kTextCap] = {0};
  if (clientRegistryKey[0] != '\0' &&
      ReadRegistryString(clientRegistryKey, "AppVersion", text, registryHive) && text[0] != '\0')
    installed = std::atoi(text);
  const int32_t seen = NewestReleaseSeen();
  if (refusal == 0) refusal = ul::CheckReleaseVersion(*release, std::max(installed, seen));
  if (refusal != 0) {
    release.reset();
    return refusal;
  }
  if (release->version > seen) {
    char version[32];
    ul::Format(version, "%d", release->version);
    WriteRegistryString(kNewestReleaseKey, kNewestReleaseValue, version, kCurrentUser);
  }
  return 0;
}
