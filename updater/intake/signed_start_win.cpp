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

#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "formats/base/bounded.h"
#include "formats/trust/release_check.h"
#include "formats/trust/release_roles.h"
#include "intake/intake.h"
#include "intake/verdict_trace.h"
#include "net/held_file_win.h"
#include "net/temp_fetch_win.h"

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
// Nothing is signed yet, so nothing is checked against a release.
bool FetchBytes(const char* path, const char* name, std::size_t limit, std::string* bytes) {
  char local[ul::kTextCap];
  ul::HeldFile held;
  bool refused = false;
  if (!FetchHeldToTemp(nullptr, ULMET_CONFIG_HOST, path, name, local, &held, &refused)) return false;
  const bool ok = held.ReadAll(limit, bytes);
  held.Close();
  DeleteFileA(local);
  return ok;
}

// 0 when the configuration names, for every role, the server path the
// release binds to it; kReleaseListDiffers (traced, with the role) when one
// differs.
int CheckRoles(const UpdateConfig& config) {
  const char* role = ul::DifferingRole(config.release->roles, ul::RolesOf(config.directory, config.program));
  if (role == nullptr) return 0;
  DebugTrace("Release check: the configuration names another %s than the signed release", role);
  return ul::kReleaseListDiffers;
}

}  // namespace

int FetchSignedRelease(UpdateConfig& config, const char* keyText) {
  char manifestPath[ul::kTextCap];
  char signaturePath[ul::kTextCap];
  ul::LaunchReleasePaths(manifestPath, signaturePath);
  std::string manifest;
  std::string signature;
  if (!FetchBytes(signaturePath, "ULRelease2.sig_", kSignatureMaxBytes, &signature) ||
      !FetchBytes(manifestPath, "ULRelease2.dat_", ul::kManifestMaxBytes, &manifest)) {
    DebugTrace("Release check: no manifest or signature at %s", manifestPath);
    return ul::kReleaseMissing;
  }
  std::unique_ptr<ul::ReleaseManifest> checked(new (std::nothrow) ul::ReleaseManifest());
  if (checked == nullptr) return ul::kReleaseMissing;
  std::string why;
  const int refusal = ul::CheckRelease(keyText, manifest, signature, ul::kRoleFormat, -1, checked.get(), &why);
  if (refusal != 0) {
    TraceReleaseCheck(why);
    return refusal;
  }
  DebugTrace("Release check: release %d signed, %u files", checked->version,
             static_cast<unsigned>(checked->files.size()));
  config.release = std::move(checked);
  return 0;
}

int CheckReleaseBinding(UpdateConfig& config) {
  std::unique_ptr<ul::ReleaseManifest>& release = config.release;
  if (release == nullptr) return 0;
  int refusal = CheckRoles(config);
  // The installed version where the signed configuration says it lives. A
  // configuration that names no existing key has none: the empty key would
  // read the hive's own values.
  int32_t installed = -1;
  char text[ul::kTextCap] = {0};
  const ProgramConfig& program = config.program;
  if (program.clientRegistryKey[0] != '\0' &&
      ReadRegistryString(program.clientRegistryKey, "AppVersion", text, program.registryHive) && text[0] != '\0')
    installed = std::atoi(text);
  const int32_t seen = NewestReleaseSeen();
  std::string why;
  if (refusal == 0 && (refusal = ul::CheckReleaseVersion(*release, std::max(installed, seen), &why)) != 0)
    TraceReleaseCheck(why);
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
