// verify's check of the signed release: the manifest and its signature
// beside the directory file, checked the way an updater built with the
// release key checks them, against the bytes the tree serves; and the
// manifest beside the update list that keyed updaters built before the
// roles existed read.
#include <algorithm>
#include <cstring>

#include "formats/lists/directory_file.h"
#include "formats/trust/release_check.h"
#include "formats/trust/release_roles.h"
#include "system/key.h"
#include "tree/settings.h"
#include "verify/verify_checks.h"

namespace ulp {

void RememberServed(VerifyRun& run, const std::string& objectPath, const std::string& localPath) {
  ul::ReleaseFile arrived;
  if (ul::Sha256File(localPath.c_str(), arrived.sha256, &arrived.size)) run.served[objectPath] = arrived;
}

namespace {

constexpr std::size_t kSignatureMaxBytes = 4096;

// The updaters a manifest is for, and what they do when it does not hold.
struct Readers {
  int format;
  const char* refuse;      // "... refuse every run"
  const char* refuseFile;  // "... refuse it like a failed download"
};
const Readers kToday = {ul::kRoleFormat, "updaters built with the release key refuse every run",
                        "updaters built with the release key refuse it like a failed download"};
const Readers kEarlier = {ul::kLegacyFormat,
                          "keyed updaters built before the roles existed (they read this file) "
                          "refuse every run",
                          "keyed updaters built before the roles existed refuse it like a "
                          "failed download"};

// A manifest and its signature as served.
struct ServedRelease {
  ServedRelease(const char* manifest, const char* signature)
      : manifestPath(manifest), signaturePath(signature) {}
  const char* manifestPath;
  const char* signaturePath;
  bool haveManifest = false;
  bool haveSignature = false;
  std::string manifest, signature;
};

void FetchRelease(VerifyRun& run, ServedRelease* r, bool counted = true) {
  LocalCopy manifestCopy, signatureCopy;
  r->haveManifest =
      run.tree.Fetch(r->manifestPath, &manifestCopy, ul::kManifestMaxBytes).status == kFetched &&
      ReadWholeFile(manifestCopy.path(), ul::kManifestMaxBytes, &r->manifest);
  r->haveSignature =
      run.tree.Fetch(r->signaturePath, &signatureCopy, kSignatureMaxBytes).status == kFetched &&
      ReadWholeFile(signatureCopy.path(), kSignatureMaxBytes, &r->signature);
  if (counted) run.files += r->haveManifest + r->haveSignature;
}

// What arrived for objectPath against the manifest's record of it.
void Compare(VerifyRun& run, const ul::ReleaseManifest& m, const std::string& objectPath,
             const ul::ReleaseFile& arrived, const std::string& consequence) {
  const ul::ReleaseFile* record = m.Find(objectPath.c_str());
  const std::string where = run.tree.Where(objectPath);
  if (record == nullptr) {
    run.report.Problem(where, "not in the signed release: " + consequence);
  } else if (!ul::MatchesRecord(*record, arrived.size, arrived.sha256)) {
    run.report.Problem(where, "differs from the signed release (" + std::to_string(arrived.size) +
                                  " bytes served, " + std::to_string(record->size) +
                                  " signed, or another SHA-256): " + consequence);
  }
}

// The manifest read (and with a key its signature checked); false after
// the report when its updaters would refuse it.
bool ReadRelease(VerifyRun& run, const ServedRelease& r, const Readers& readers,
                 ul::ReleaseManifest* m) {
  if (!r.haveManifest || !r.haveSignature) {
    run.report.Problem(run.tree.Where(r.haveManifest ? r.signaturePath : r.manifestPath),
                       std::string("missing: ") + readers.refuse + " (code-SG01)");
    return false;
  }
  if (run.releaseKey.empty()) {
    run.report.Warning(run.tree.Where(r.signaturePath), "not checked: give --key FILE.pub");
    if (m->Parse(r.manifest.data(), r.manifest.size()) && m->format == readers.format) return true;
  } else if (ul::CheckRelease(run.releaseKey.c_str(), r.manifest, r.signature, readers.format, -1,
                              m) == 0) {
    return true;
  }
  run.report.Problem(run.tree.Where(r.signaturePath),
                     std::string("the manifest is unreadable or not signed by the key: ") +
                         readers.refuse + " (code-SG02)");
  return false;
}

// The signed version against the version the tree's clients are at, as
// the settings of a folder the tool wrote say. (A list that matches its
// record has the signed version already: sign takes it from those bytes.)
void CheckVersion(VerifyRun& run, const ServedRelease& r, const ul::ReleaseManifest& m,
                  const Readers& readers) {
  Settings settings;
  if (run.tree.served() || !ReadTreeSettings(run.tree.Name(), &settings) ||
      m.version >= settings.version)
    return;
  run.report.Problem(run.tree.Where(r.manifestPath),
                     "signed as release " + std::to_string(m.version) + ", but the tree's settings "
                     "say its clients are at version " + std::to_string(settings.version) + ": " +
                         readers.refuse + " there as an old release (code-SG04); sign the tree "
                         "again");
}

// The files the configuration reads before the named files, fetched again,
// against their records; then every named file as it arrived.
void CheckRecords(VerifyRun& run, const ul::ReleaseManifest& m, const Readers& readers,
                  const std::vector<std::string>& texts) {
  for (const std::string& path : texts) {
    LocalCopy copy;
    ul::ReleaseFile arrived;
    if (path.empty() || run.tree.Fetch(path, &copy).status != kFetched ||
        !ul::Sha256File(copy.path().c_str(), arrived.sha256, &arrived.size))
      continue;  // reported by the file's own check
    Compare(run, m, path, arrived, std::string(readers.refuse) + " (code-SG03)");
  }
  for (const NamedFile& file : run.index.files()) {
    auto arrived = run.served.find(file.objectPath);
    if (arrived != run.served.end())
      Compare(run, m, file.objectPath, arrived->second, readers.refuseFile);
  }
}

}  // namespace

bool ReadSignedRelease(VerifyRun& run) {
  char manifestPath[ul::kTextCap];
  char signaturePath[ul::kTextCap];
  ul::LaunchReleasePaths(manifestPath, signaturePath);
  ServedRelease r{manifestPath, signaturePath};
  FetchRelease(run, &r, false);  // counted with the check at the end
  ul::ReleaseManifest m;
  // Unchecked as yet: only the sizes that bound what the check stores.
  if (r.haveManifest && m.Parse(r.manifest.data(), r.manifest.size())) run.tree.Bound(m);
  return true;
}

bool CheckSignedRelease(VerifyRun& run) {
  const TreeConfig& c = run.config;
  char launchManifest[ul::kTextCap];
  char launchSignature[ul::kTextCap];
  char legacyManifest[ul::kTextCap] = {0};
  char legacySignature[ul::kTextCap] = {0};
  ul::LaunchReleasePaths(launchManifest, launchSignature);
  ul::ReleaseFilePaths(c.program.updateListPath, legacyManifest, legacySignature);
  ServedRelease today{launchManifest, launchSignature};
  ServedRelease earlier{legacyManifest, legacySignature};
  FetchRelease(run, &today);
  if (legacyManifest[0] != '\0') FetchRelease(run, &earlier);
  const bool signedAtAll =
      today.haveManifest || today.haveSignature || earlier.haveManifest || earlier.haveSignature;
  if (!signedAtAll && run.releaseKey.empty()) {
    run.report.Note(run.tree.Where(launchManifest),
                    "no signed release: updaters built with a release key refuse every run "
                    "(code-SG01)");
    return true;
  }
  const int before = run.report.problems();
  ul::ReleaseManifest m;
  if (ReadRelease(run, today, kToday, &m)) {
    const char* role = ul::DifferingRole(m.roles, ul::RolesOf(c.directory, c.program));
    if (role != nullptr)
      run.report.Problem(run.tree.Where(launchManifest),
                         std::string("binds another ") + role + " than the program configuration "
                         "names: " + kToday.refuse + " (code-SG03)");
    CheckVersion(run, today, m, kToday);
    CheckRecords(run, m, kToday,
                 {kDirectoryFilePath, c.directory.programConfigPath, c.program.updateListPath, c.program.hashListPath});
    for (const std::string& path : ChunkFilePaths(run)) {
      auto arrived = run.served.find(path);
      if (arrived != run.served.end())
        Compare(run, m, path, arrived->second,
                "updaters built with the release key fetch files whole instead");
    }
    for (const std::string& path : PatchFilePaths(run)) {
      auto arrived = run.served.find(path);
      if (arrived != run.served.end())
        Compare(run, m, path, arrived->second,
                "updaters built with the release key fetch the files another way instead");
    }
  }
  if (!earlier.haveManifest && !earlier.haveSignature) {
    run.report.Warning(run.tree.Where(legacyManifest),
                       std::string("missing: ") + kEarlier.refuse + " (code-SG01) until they "
                       "have replaced themselves");
  } else {
    ul::ReleaseManifest old;
    if (ReadRelease(run, earlier, kEarlier, &old)) {
      CheckVersion(run, earlier, old, kEarlier);
      CheckRecords(run, old, kEarlier, {c.program.updateListPath, c.program.hashListPath});
    }
  }
  if (run.report.problems() == before && m.format == ul::kRoleFormat)
    run.report.Note(run.tree.Where(launchManifest),
                    "signed release " + std::to_string(m.version) + ": every file served as " +
                        (run.releaseKey.empty() ? "recorded" : "signed"));
  return true;
}

}  // namespace ulp
