// verify's check of the signed release: the manifest and its signature
// beside the update list, checked the way an updater built with the release
// key checks them, against the bytes the tree serves.
#include <cstring>

#include "config/release_check.h"
#include "key.h"
#include "verify_checks.h"

namespace ulp {

void RememberServed(VerifyRun& run, const std::string& objectPath, const std::string& localPath) {
  ul::ReleaseFile arrived;
  if (ul::Sha256File(localPath.c_str(), arrived.sha256, &arrived.size)) run.served[objectPath] = arrived;
}

namespace {

const char kRefusesRuns[] = "updaters built with the release key refuse every run";

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

// The served bytes of the manifest and the signature; false after the
// report when either is missing.
bool FetchReleaseFiles(VerifyRun& run, const char* manifestPath, const char* signaturePath,
                       std::string* manifest, std::string* signature) {
  LocalCopy manifestCopy, signatureCopy;
  const bool haveManifest = run.tree.Fetch(manifestPath, &manifestCopy).status == kFetched;
  const bool haveSignature = run.tree.Fetch(signaturePath, &signatureCopy).status == kFetched;
  run.files += haveManifest + haveSignature;
  if (!haveManifest && !haveSignature && run.releaseKey.empty()) {
    run.report.Note(run.tree.Where(manifestPath),
                    "no signed release: updaters built with a release key refuse every run "
                    "(code-SG01)");
    return false;
  }
  if (!haveManifest || !haveSignature) {
    run.report.Problem(run.tree.Where(haveManifest ? signaturePath : manifestPath),
                       std::string("missing: ") + kRefusesRuns + " (code-SG01)");
    return false;
  }
  if (!ReadWholeFile(manifestCopy.path(), ul::kManifestMaxBytes, manifest) ||
      !ReadWholeFile(signatureCopy.path(), 4096, signature)) {
    run.report.Problem(run.tree.Where(manifestPath), std::string("unreadable: ") + kRefusesRuns);
    return false;
  }
  return true;
}

// The manifest read (and with a key its signature checked); false after
// the report when an updater would refuse it.
bool ReadRelease(VerifyRun& run, const char* manifestPath, const char* signaturePath,
                 ul::ReleaseManifest* m) {
  std::string manifest, signature;
  if (!FetchReleaseFiles(run, manifestPath, signaturePath, &manifest, &signature)) return false;
  if (run.releaseKey.empty()) {
    run.report.Warning(run.tree.Where(signaturePath), "not checked: give --key FILE.pub");
    if (m->Parse(manifest.data(), manifest.size())) return true;
  } else if (ul::CheckRelease(run.releaseKey.c_str(), manifest, signature, -1, m) == 0) {
    return true;
  }
  run.report.Problem(run.tree.Where(signaturePath),
                     std::string("the manifest is unreadable or not signed by the key: ") +
                         kRefusesRuns + " (code-SG02)");
  return false;
}

// The update list and the hash list, fetched again, against their records.
// (A list that matches its record has the manifest's version: sign takes the
// version from those very bytes.)
void CheckLists(VerifyRun& run, const ul::ReleaseManifest& m) {
  for (const std::string path : {run.config.updateListPath, run.config.hashListPath}) {
    LocalCopy copy;
    ul::ReleaseFile arrived;
    if (path.empty() || run.tree.Fetch(path, &copy).status != kFetched ||
        !ul::Sha256File(copy.path().c_str(), arrived.sha256, &arrived.size))
      continue;  // reported by the list's own check
    Compare(run, m, path, arrived, std::string(kRefusesRuns) + " (code-SG03)");
  }
}

}  // namespace

bool CheckSignedRelease(VerifyRun& run) {
  char manifestPath[ul::kTextCap];
  char signaturePath[ul::kTextCap];
  ul::ReleaseManifest m;
  if (!ul::ReleaseFilePaths(run.config.updateListPath, manifestPath, signaturePath) ||
      !ReadRelease(run, manifestPath, signaturePath, &m))
    return true;
  const int before = run.report.problems();
  CheckLists(run, m);
  for (const NamedFile& file : run.index.files()) {
    auto arrived = run.served.find(file.objectPath);
    if (arrived != run.served.end())
      Compare(run, m, file.objectPath, arrived->second,
              "updaters built with the release key refuse it like a failed download");
  }
  for (const std::string& path : ChunkFilePaths(run)) {
    auto arrived = run.served.find(path);
    if (arrived != run.served.end())
      Compare(run, m, path, arrived->second, "updaters built with the release key fetch files whole instead");
  }
  if (run.report.problems() == before)
    run.report.Note(run.tree.Where(manifestPath),
                    "signed release " + std::to_string(m.version) + ": every file served as " +
                        (run.releaseKey.empty() ? "recorded" : "signed"));
  return true;
}

}  // namespace ulp
