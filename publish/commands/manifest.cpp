#include "commands/manifest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "formats/trust/release_check.h"
#include "formats/trust/release_roles.h"
#include "formats/trust/release_crypto.h"
#include "formats/lists/update_list.h"
#include "formats/base/text_line.h"
#include "formats/lists/directory_file.h"
#include "system/key.h"
#include "tree/served_tree.h"
#include "tree/settings.h"
#include "verify/verify.h"
#include "verify/verify_checks.h"

namespace fs = std::filesystem;

namespace ulp {

namespace {

std::string NormalOrEmpty(const char* requestPath) {
  std::string normal;
  return ul::NormalServerPath(requestPath, &normal) ? normal : std::string();
}

// Opens a tree file the way the updater opens a fetched one.
template <typename Read>
bool ReadTreeText(const std::string& file, Read read) {
  std::FILE* f = std::fopen(file.c_str(), "rt");
  if (f == nullptr) return false;
  const bool ok = read(f);
  std::fclose(f);
  return ok;
}

// Replaces file with bytes: written beside it, then renamed over it.
bool ReplaceFile(const std::string& file, const std::string& bytes, std::string* error) {
  const std::string fresh = file + ".new";
  std::remove(fresh.c_str());
  std::error_code ec;
  if (!WriteNewFile(fresh, bytes, false, error)) return false;
  fs::rename(fresh, file, ec);
  if (ec) {
    fs::remove(file, ec);
    fs::rename(fresh, file, ec);
  }
  if (ec) *error = "cannot put " + file + " in place: " + ec.message();
  return !ec;
}

// The tree read the way verify reads it, up to the index of every file the
// lists name; its report is not sign's output.
bool IndexTree(VerifyRun& run, const std::string& tree, std::string* error) {
  run.clientFolder = TreeInstallFolder(tree);
  std::string why;
  if (run.tree.Open(tree, &why) != ServedTree::kOpened || run.tree.served()) {
    *error = "no tree folder " + tree + (why.empty() ? "" : ": " + why);
    return false;
  }
  for (bool (*step)(VerifyRun&) :
       {CheckDirectoryFile, CheckProgramConfig, CheckHashList, CheckUpdateList, CheckInstaller, CheckChunkList,
        CheckPatchList}) {
    if (!step(run)) {
      *error = "the updater cannot read " + tree + " (see ulmet-publish verify)";
      return false;
    }
  }
  return true;
}

// The tree file that answers a request for objectPath, when there is one.
bool TreeFile(ServedTree& tree, const std::string& objectPath, std::string* file) {
  LocalCopy copy;
  if (tree.Fetch(objectPath, &copy).status != kFetched) return false;
  *file = copy.path();
  return true;
}

}  // namespace

std::string TreeFileOf(const std::string& tree, const std::string& normalPath) {
  std::string relative;
  return ServedFileName(RequestTarget(normalPath), &relative) ? tree + "/" + relative : std::string();
}

bool PlanRelease(const std::string& tree, ReleasePlan* plan, std::string* error) {
  std::FILE* sink = std::tmpfile();
  std::unique_ptr<VerifyRun> run(new VerifyRun(sink != nullptr ? sink : stderr));
  const bool indexed = IndexTree(*run, tree, error);
  if (sink != nullptr) std::fclose(sink);
  if (!indexed) return false;
  const TreeConfig& c = run->config;
  plan->updateListPath = c.program.updateListPath;
  plan->roles = ul::RolesOf(c.directory, c.program);
  Settings settings;
  plan->settingsVersion = ReadTreeSettings(tree, &settings) ? settings.version : -1;
  plan->sources.clear();
  std::vector<std::pair<std::string, bool>> named = {
      {kDirectoryFilePath, true}, {c.directory.programConfigPath, true}, {c.program.updateListPath, true}};
  if (c.program.hashListPath[0] != '\0') named.emplace_back(c.program.hashListPath, true);
  for (const NamedFile& f : run->index.files()) named.emplace_back(f.objectPath, f.required);
  for (const std::string& path : ChunkFilePaths(*run)) named.emplace_back(path, true);
  for (const std::string& path : PatchFilePaths(*run)) named.emplace_back(path, true);
  for (const auto& n : named) {
    std::string file;
    if (TreeFile(run->tree, n.first, &file)) {
      plan->sources.push_back({n.first, file});
    } else if (n.second) {
      *error = "the tree has no file for " + n.first + ", which its lists name (see ulmet-publish verify)";
      return false;
    }
  }
  plan->updateListFile = plan->sources[2].treeFile;
  return true;
}

int32_t SignedVersion(int32_t listVersion, int32_t settingsVersion) {
  return std::max(listVersion, settingsVersion);
}

bool ReleaseVersion(const std::string& updateListFile, int32_t* version, std::string* error) {
  UpdateFileList list;
  list.ClearFileList();
  const bool read = ReadTreeText(updateListFile, [&](std::FILE* f) {
    char line[ul::kLineCap];
    if (!ul::ReadTextLine(f, line) || !IsUpdateListHeader(line)) return false;
    // Every line, also those after a self-update or installer line: the
    // run that follows reads them.
    std::vector<UpdateWord> words;
    while (ul::ReadTextLine(f, line)) {
      ul::StripNewline(line);
      list.ParseUpdateLine(line, 0, &words);
      words.clear();
    }
    return true;
  });
  if (!read) {
    *error = "not an update list: " + updateListFile;
    return false;
  }
  *version = list.maxVersion;
  return true;
}

bool RecordSources(const std::vector<ReleaseSource>& sources, std::vector<ul::ReleaseFile>* files,
                   std::string* error) {
  std::map<std::string, std::string> treeFileOf;
  files->clear();
  for (const ReleaseSource& s : sources) {
    ul::ReleaseFile record;
    if (!ul::NormalServerPath(s.requestPath.c_str(), &record.path)) {
      *error = "not a request path the updater can make: " + s.requestPath;
      return false;
    }
    auto known = treeFileOf.find(record.path);
    if (known != treeFileOf.end()) {
      if (known->second == s.treeFile) continue;
      *error = record.path + " would be answered by two files: " + known->second + ", " + s.treeFile;
      return false;
    }
    if (!ul::Sha256File(s.treeFile.c_str(), record.sha256, &record.size)) {
      *error = "cannot read " + s.treeFile + " (for " + record.path + ")";
      return false;
    }
    treeFileOf[record.path] = s.treeFile;
    files->push_back(record);
  }
  return true;
}

namespace {

// Signs text, writes it and its signature at the tree files that answer
// manifestPath and signaturePath, and checks what a client will read: the
// files as written, against the public half.
bool WriteSignedManifest(const std::string& tree, const char* manifestPath,
                         const char* signaturePath, const std::string& text, const KeyPair& key,
                         std::string* manifestFile, std::string* signatureFile, std::string* error) {
  uint8_t signature[ul::kP256SignatureBytes];
  if (!SignP256(key, text.data(), text.size(), signature, error)) return false;
  *manifestFile = TreeFileOf(tree, NormalOrEmpty(manifestPath));
  *signatureFile = TreeFileOf(tree, NormalOrEmpty(signaturePath));
  if (!ReplaceFile(*manifestFile, text, error) ||
      !ReplaceFile(*signatureFile, ul::FormatSignature(signature), error))
    return false;
  std::string writtenManifest, writtenSignature;
  uint8_t rs[ul::kP256SignatureBytes];
  if (!ReadWholeFile(*manifestFile, ul::kManifestMaxBytes, &writtenManifest) ||
      !ReadWholeFile(*signatureFile, 4096, &writtenSignature) ||
      !ul::ParseSignature(writtenSignature, rs) ||
      !ul::VerifyP256(key.publicKey, writtenManifest.data(), writtenManifest.size(), rs)) {
    *error = "the written manifest and signature do not check out";
    return false;
  }
  return true;
}

}  // namespace

bool SignRelease(const std::string& tree, const ReleasePlan& plan, const KeyPair& key,
                 SignReport* report, std::string* error) {
  char legacyManifest[ul::kTextCap];
  char legacySignature[ul::kTextCap];
  char launchManifest[ul::kTextCap];
  char launchSignature[ul::kTextCap];
  if (!ul::ReleaseFilePaths(plan.updateListPath.c_str(), legacyManifest, legacySignature)) {
    *error = "the update list's path leaves no room for the manifest's";
    return false;
  }
  ul::LaunchReleasePaths(launchManifest, launchSignature);
  // A manifest cannot record itself or a signature.
  std::vector<ReleaseSource> sources;
  for (const ReleaseSource& s : plan.sources) {
    const std::string normal = NormalOrEmpty(s.requestPath.c_str());
    bool own = false;
    for (const char* path : {legacyManifest, legacySignature, launchManifest, launchSignature})
      own = own || normal == NormalOrEmpty(path);
    if (!own) sources.push_back(s);
  }
  int32_t listVersion = 0;
  std::vector<ul::ReleaseFile> files;
  if (!ReleaseVersion(plan.updateListFile, &listVersion, error) ||
      !RecordSources(sources, &files, error))
    return false;
  report->version = SignedVersion(listVersion, plan.settingsVersion);
  std::string manifest, legacy;
  if (!ul::FormatManifest(report->version, &plan.roles, files, &manifest) ||
      !ul::FormatManifest(report->version, nullptr, files, &legacy)) {
    *error = "the release's paths do not make a manifest";
    return false;
  }
  report->files = files.size();
  report->bytes = 0;
  for (const ul::ReleaseFile& f : files) report->bytes += f.size;
  return WriteSignedManifest(tree, launchManifest, launchSignature, manifest, key,
                             &report->manifestFile, &report->signatureFile, error) &&
         WriteSignedManifest(tree, legacyManifest, legacySignature, legacy, key,
                             &report->legacyManifestFile, &report->legacySignatureFile, error);
}

bool SignTree(const std::string& tree, const std::string& keyFile, SignReport* report,
              std::string* error) {
  KeyPair key;
  ReleasePlan plan;
  return ReadPrivateKeyFile(keyFile, &key, error) && PlanRelease(tree, &plan, error) &&
         SignRelease(tree, plan, key, report, error);
}

namespace {

// The stage's manifests and signature files, when the tree before was
// signed.
bool CarriedSignature(const std::string& stage, std::vector<std::string>* files, std::string* error) {
  ReleasePlan plan;
  char manifestPath[ul::kTextCap] = {0};
  char signaturePath[ul::kTextCap] = {0};
  char launchManifest[ul::kTextCap];
  char launchSignature[ul::kTextCap];
  if (!PlanRelease(stage, &plan, error)) return false;
  ul::ReleaseFilePaths(plan.updateListPath.c_str(), manifestPath, signaturePath);
  ul::LaunchReleasePaths(launchManifest, launchSignature);
  std::error_code ec;
  for (const char* path : {manifestPath, signaturePath, launchManifest, launchSignature}) {
    if (path[0] == '\0') continue;
    std::string file = TreeFileOf(stage, NormalOrEmpty(path));
    if (!file.empty() && std::filesystem::exists(file, ec)) files->push_back(file);
  }
  return true;
}

}  // namespace

bool SignStage(const std::string& stage, const char* keyFile, bool dropSignature, std::string* error) {
  if (keyFile == nullptr) {
    std::vector<std::string> carried;
    if (!CarriedSignature(stage, &carried, error)) return false;
    if (carried.empty()) return true;
    if (!dropSignature) {
      *error = "the tree is signed, and its signature would not match this release: give --key to sign "
               "it too, or --unsigned to publish it without (updaters built with a release key refuse that)";
      return false;
    }
    std::error_code ec;
    for (const auto& f : carried) std::filesystem::remove(f, ec);
    std::printf("published unsigned: the earlier release's manifests and signatures are gone\n");
    return true;
  }
  SignReport report;
  if (!SignTree(stage, keyFile, &report, error)) return false;
  std::printf("signed release %d: %zu files recorded beside the directory file and the update list\n",
              report.version, report.files);
  return true;
}

}  // namespace ulp
