#include "publisher.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "commands/chunk_indexes.h"
#include "formats/patches/patch_list.h"
#include "formats/chunks/chunk_list.h"
#include "tree/client_scan.h"
#include "system/disk_names.h"
#include "tree/file_digest.h"
#include "system/file_io.h"
#include "tree/name_rules.h"
#include "tree/patch_maker.h"
#include "tree/server_lists.h"
#include "tree/tree_layout.h"
#include "tree/tree_stage.h"
#include "tree/zip_writer.h"

namespace fs = std::filesystem;

namespace tb {

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Client-folder-relative path with '/' separators.
std::string Relative(const fs::path& p, const fs::path& base) {
  return p.lexically_relative(base).generic_string();
}

bool BuildArchive(const fs::path& zipPath, const fs::path& base, const std::vector<std::string>& items,
                  std::string* error) {
  std::vector<ulp::ZipMember> members;
  for (const auto& item : items) {
    if (!ulp::CollectMembers(base, base / item, &members, error)) return false;
  }
  return ulp::WriteZip(zipPath, members, error);
}

// The tree's places, as the program configuration's defaults name them.
const ulp::ServerPaths kPaths;

// The tree being built beside its final place, and what has gone into it.
struct Stage {
  ulp::TreeStage& tree;
  PublishResult* result;

  bool Fail(const std::string& why) {
    result->error = why;
    return false;
  }
  // The server keeps names in code page 949; the release writes them in UTF-8.
  bool Cp949Name(const std::string& rel, std::string* name) {
    return ulp::Utf8ToCp949(rel, name) || Fail("the name " + rel + " has no form in code page 949");
  }
  bool Write(const std::string& rel, const std::string& data) {
    std::string name;
    if (!Cp949Name(rel, &name) || !tree.Write(name, data, &result->error)) return false;
    result->written.push_back(rel);
    return true;
  }
  bool Copy(const std::string& rel, const fs::path& source) {
    std::string name;
    if (!Cp949Name(rel, &name) || !tree.Copy(name, source, &result->error)) return false;
    result->written.push_back(rel);
    return true;
  }
  // Text files: UTF-8 in the release, code page 949 on the server.
  bool WriteText(const std::string& rel, const std::string& text) {
    std::string ansi;
    if (!ulp::Utf8ToCp949(text, &ansi)) return Fail(rel + " holds text without a form in code page 949");
    return Write(rel, ansi);
  }
};

// Why publishing from client into out could do harm, or "" when it cannot:
// no client folder, a root, a folder that is no earlier tree (or is one,
// without --force), or the two inside each other.
std::string PlaceProblem(const PublishOptions& o, const fs::path& client, const fs::path& out) {
  if (!fs::is_directory(client)) return "client folder " + o.clientDir + " does not exist";
  std::string why = ulp::ReplaceProblem(out, o.force);
  return why.empty() ? ulp::NestingProblem(client, out) : why;
}

// The program configuration: the updater's sections in their documented
// order with a local test server's values, changed by the release's set and
// unset statements; sections the updater does not know follow by name.
std::string ProgramConfiguration(const Release& release, const std::string& host) {
  const ulp::Sections known = ulp::DefaultProgramSections(host, kPaths);
  std::map<std::string, std::string> sections(known.begin(), known.end());
  for (const auto& s : release.sections) sections[s.first] = s.second;
  if (release.chunkIndexFrom > 0) sections["CHUNKLIST"] = ulp::kDefaultChunkList;
  if (!release.patches.empty()) sections["PATCHLIST"] = ulp::kDefaultPatchList;
  for (const auto& u : release.unset) sections.erase(u);
  ulp::Sections ordered;
  for (const auto& k : known) {
    auto it = sections.find(k.first);
    if (it == sections.end()) continue;
    ordered.push_back(*it);
    sections.erase(it);
  }
  ordered.insert(ordered.end(), sections.begin(), sections.end());
  return ulp::ProgramConfigText(ordered);
}

// Every client file, under its path in the client folder.
bool PublishClientFiles(Stage& stage, const fs::path& client, const std::vector<fs::path>& files) {
  const std::string filesDir = ulp::TreeRelative(kPaths.files);
  for (const auto& f : files) {
    if (!stage.Copy(filesDir + ulp::PublishedName(Relative(f, client)), f)) return false;
  }
  return true;
}

// Deletions and the installer are not files of the tree; the others are.
bool IsPublishedEntry(const std::string& entry) {
  if (entry[0] == '-' || entry[0] == '=') return false;
  std::string lower = Lower(entry);
  return lower != "ulmet3_install.exe" && lower.find("ulmet_install.exe") == std::string::npos;
}

// An entry that needs more than the plain client file: an archive built from
// the client folder, or a file from its declared source. A plain entry must
// be a client file.
bool PublishEntry(Stage& stage, const Release& release, const fs::path& client, const std::string& e,
                  int line) {
  // Entries may name sub-folders with '\' (the updater unpacks an archive
  // into the folder before its last '\') or '/'; on disk both are folders.
  std::string fsName = e;
  std::replace(fsName.begin(), fsName.end(), '\\', '/');
  const std::string published = ulp::TreeRelative(kPaths.files) + ulp::PublishedName(fsName);
  auto archive = release.archives.find(e);
  if (archive != release.archives.end()) {
    fs::path archiveBase = client / fs::path(fsName).parent_path();
    std::string zipName;
    if (!stage.Cp949Name(published, &zipName)) return false;
    if (!BuildArchive(stage.tree.PathOf(zipName), archiveBase, archive->second, &stage.result->error)) return false;
    stage.result->written.push_back(published);
    return true;
  }
  auto source = release.fileSources.find(e);
  if (source != release.fileSources.end()) {
    fs::path src = source->second;
    if (src.is_relative()) src = client / src;
    std::string data;
    if (!ulp::ReadWholeFile(src, &data)) return stage.Fail("cannot read " + src.string() + " for entry " + e);
    return stage.Write(published, data);
  }
  if (fs::is_regular_file(client / fsName)) return true;
  return stage.Fail("entry " + e + " (line " + std::to_string(line) +
                    ") is neither a client file nor a declared archive or file");
}

// The update list: the header, then one line per version; each entry is
// published the first time a version names it.
bool WriteUpdateList(Stage& stage, const Release& release, const fs::path& client) {
  std::set<std::string> entriesSeen;
  std::ostringstream list;
  list << release.header << "\n";
  int lastVersion = 0;
  for (const auto& v : release.versions) {
    if (v.number <= lastVersion)
      stage.result->warnings.push_back("version " + std::to_string(v.number) + " (line " +
                                       std::to_string(v.line) + ") is not above the one before it");
    lastVersion = std::max(lastVersion, v.number);
    list << v.number;
    for (const auto& e : v.entries) {
      list << " " << ulp::PublishedName(e);
      if (!IsPublishedEntry(e) || !entriesSeen.insert(e).second) continue;
      if (!PublishEntry(stage, release, client, e, v.line)) return false;
    }
    list << "\n";
  }
  for (const auto& a : release.archives) {
    if (!entriesSeen.count(a.first))
      stage.result->warnings.push_back("archive " + a.first + " is in no version");
  }
  return stage.WriteText(ulp::TreeRelative(kPaths.updateList), list.str());
}

// Hash list: every client file not excluded, with its chained digest.
bool WriteHashList(Stage& stage, const Release& release, const fs::path& client,
                   const std::vector<fs::path>& files) {
  std::vector<std::string> excludes = ulp::DefaultHashExclusions();
  excludes.insert(excludes.end(), release.hashExcludes.begin(), release.hashExcludes.end());
  std::string hashes = ulp::HashListHeader();
  int number = 0;
  for (const auto& f : files) {
    std::string rel = Relative(f, client);
    if (ulp::HashExcluded(rel, excludes)) continue;
    std::error_code ec;
    if (fs::file_size(f, ec) == 0) {
      // An empty file has an empty digest, and an empty field ends the list.
      stage.result->warnings.push_back("empty file " + rel + " left out of the hash list");
      continue;
    }
    if (rel.find(':') != std::string::npos)
      return stage.Fail("a client file name holds ':', which the hash list cannot carry: " + rel);
    std::string digest;
    if (!ulp::ChainedDigest(f, &digest)) return stage.Fail("cannot read " + f.string());
    hashes += ulp::HashListLine(rel, ++number, digest);
  }
  if (number == 0)
    stage.result->warnings.push_back("the hash list has no entry; the updater will stop at start-up");
  return stage.WriteText(ulp::TreeRelative(kPaths.hashList), hashes);
}

// The chunk indexes of the client files of at least release.chunkIndexFrom
// bytes, and the list that names them, where the program configuration
// says.
bool WriteChunkIndexes(Stage& stage, const Release& release, const fs::path& client,
                       const std::vector<fs::path>& files) {
  if (release.chunkIndexFrom == 0) return true;
  std::vector<std::string> names;
  for (const auto& f : files) {
    std::error_code ec;
    if (fs::file_size(f, ec) < release.chunkIndexFrom) continue;
    std::string name, path, bytes;
    ul::ChunkIndex index;
    if (!stage.Cp949Name(ulp::PublishedName(Relative(f, client)), &name)) return false;
    if (!ulp::IndexOfFile(f, &index) || !ul::FormatChunkIndex(index, &bytes) ||
        !ul::ChunkIndexPath(ulp::kDefaultChunkList, name.c_str(), &path))
      return stage.Fail("no chunk index for " + f.string());
    if (!stage.tree.Write(ulp::TreeRelative(path), bytes, &stage.result->error)) return false;
    stage.result->written.push_back(ulp::TreeRelative(path));
    names.push_back(name);
  }
  std::string list;
  if (!ul::FormatChunkList(names, &list)) return stage.Fail("no chunk list for these names");
  return stage.Write(ulp::TreeRelative(ulp::kDefaultChunkList), list);
}

// One patch of the release: made from its base (or from the other file it
// names), listed with the base's digests.
bool MakeListedPatch(Stage& stage, const Release& release, const PatchStatement& p, const fs::path& client,
                     const fs::path& dir, int number, ul::PatchEntry* e) {
  auto at = [&dir](const std::string& path) { return fs::path(path).is_relative() ? dir / path : fs::path(path); };
  // The entry's bytes: its declared source, or the client file.
  auto source = release.fileSources.find(p.entry);
  const fs::path next = source == release.fileSources.end()          ? client / p.entry
                        : fs::path(source->second).is_relative() ? client / source->second
                                                                  : fs::path(source->second);
  const fs::path base = at(p.base);
  std::string md5;
  ulp::MadePatch made;
  e->target = ulp::PublishedName(p.entry);
  e->patch = "p" + std::to_string(number) + ".zst";
  std::string path;
  if (!ul::PatchPath(ulp::kDefaultPatchList, e->patch, &path)) return stage.Fail("no path for " + e->patch);
  const std::string rel = ulp::TreeRelative(path);
  fs::create_directories(stage.tree.PathOf(rel).parent_path());
  if (ulp::MakePatch(p.from.empty() ? base : at(p.from), next, stage.tree.PathOf(rel), ulp::PatchBudget(), &made) !=
          ulp::kPatchMade ||
      !ulp::ChainedDigest(base, &md5) || !ulp::Sha256OfFile(base, e->baseSha256, &e->baseSize) ||
      !ulp::Sha256OfFile(next, e->sha256, &e->size))
    return stage.Fail("no patch of " + p.entry + " from " + p.base);
  std::memcpy(e->baseMd5, md5.c_str(), 33);
  e->patchSize = made.size;
  std::memcpy(e->patchSha256, made.sha256, sizeof made.sha256);
  stage.result->written.push_back(rel);
  return true;
}

bool WritePatches(Stage& stage, const Release& release, const fs::path& client, const std::string& releaseDir) {
  if (release.patches.empty()) return true;
  std::vector<ul::PatchEntry> entries;
  for (const PatchStatement& p : release.patches) {
    entries.emplace_back();
    if (!MakeListedPatch(stage, release, p, client, releaseDir, static_cast<int>(entries.size()), &entries.back()))
      return false;
  }
  std::string list;
  if (!ul::FormatPatchList(entries, &list)) return stage.Fail("no patch list for these patches");
  return stage.Write(ulp::TreeRelative(ulp::kDefaultPatchList), list);
}

bool PublishInstaller(Stage& stage, const Release& release, const std::string& releaseDir) {
  if (release.installer.empty()) return true;
  fs::path inst = release.installer;
  if (inst.is_relative()) inst = fs::path(releaseDir) / inst;
  std::error_code ec;
  if (!fs::is_regular_file(inst, ec)) return stage.Fail("cannot read the installer " + inst.string());
  return stage.Copy(ulp::TreeRelative(kPaths.installer), inst);
}

}  // namespace

// The tree is built beside its place and moved there only when complete, so
// a failed publication never leaves half a tree where the server looks.
bool Publish(const Release& release, const PublishOptions& o, PublishResult* result) {
  const fs::path client = fs::absolute(o.clientDir).lexically_normal();
  const fs::path out = fs::absolute(o.outDir).lexically_normal();
  result->error = PlaceProblem(o, client, out);
  if (!result->error.empty()) return false;

  ulp::TreeStage tree(out);
  Stage stage{tree, result};
  if (!tree.Begin(&result->error)) return false;
  const std::string host = release.host.empty() ? o.host : release.host;
  if (!stage.WriteText(ulp::kDirectoryFile, ulp::DirectoryFileText(host, release.port, kPaths.programConfig)) ||
      !stage.WriteText(ulp::TreeRelative(kPaths.programConfig), ProgramConfiguration(release, host)))
    return false;
  const std::vector<fs::path> files = ulp::ListFiles(client);
  return PublishClientFiles(stage, client, files) && WriteUpdateList(stage, release, client) &&
         WriteHashList(stage, release, client, files) && WriteChunkIndexes(stage, release, client, files) &&
         WritePatches(stage, release, client, o.releaseDir) &&
         PublishInstaller(stage, release, o.releaseDir) &&
         tree.MoveIn(false, &result->error);
}

}  // namespace tb
