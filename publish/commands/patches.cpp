#include "commands/patches.h"

#include <cstring>
#include <vector>

#include "commands/command_line.h"
#include "commands/publish_steps.h"
#include "formats/chunks/chunk_index.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/lists/client_files.h"
#include "formats/lists/program_config.h"
#include "formats/patches/patch_list.h"
#include "system/disk_names.h"
#include "system/file_io.h"
#include "tree/file_digest.h"
#include "tree/name_rules.h"
#include "tree/patch_history.h"
#include "tree/patch_maker.h"

namespace ulp {

namespace {

// What the patches of one release are made from and go into.
struct PatchRun {
  TreeStage& stage;
  const PatchWork& work;
  const char* command;
  PatchReport* report;
  PatchHistory history;
  std::vector<ul::PatchEntry> entries;
};

std::string PatchTreeName(const Settings& settings, const std::string& name) {
  std::string path;
  return ul::PatchPath(settings.paths.patchList.c_str(), name, &path) ? TreeRelative(path) : std::string();
}

// A patch's name: from the base's and the new file's SHA-256.
std::string PatchName(const uint8_t* baseSha, const uint8_t* sha) {
  return ul::Hex(baseSha, 10) + "-" + ul::Hex(sha, 10) + ".zst";
}

// What the chunk transfer fetches to make next from base: the chunks the
// base does not hold and the index, where next has an index; else all of it.
uint64_t ChunkBytes(const Settings& settings, const fs::path& base, const fs::path& next, uint64_t size) {
  if (settings.paths.chunkList.empty() || size < settings.chunkIndexFrom || size > ul::kChunkIndexMaxFileBytes)
    return size;
  ul::ChunkIndex have, want;
  ul::TransferPlan plan;
  if (!IndexOfFile(base, &have) || !IndexOfFile(next, &want) ||
      !ul::PlanTransfer(want, have.chunks, {}, ul::kRangeRequestMaxBytes, &plan))
    return size;
  return plan.fetchedBytes + ul::kChunkIndexHeaderBytes + ul::kChunkRecordBytes * want.chunks.size();
}

void Note(const PatchRun& run, const std::string& text) { Fail(run.command, kExitDone, "note: " + text); }

// The patch of f from base, listed when it is worth its bytes.
bool MakeFrom(PatchRun& run, const ClientFile& f, const HistoryEntry& base, const ul::PatchEntry& next,
              std::string* error) {
  const Settings& s = run.work.settings;
  ul::PatchEntry e = next;
  e.baseSize = base.size;
  std::memcpy(e.baseMd5, base.md5.c_str(), 33);
  std::memcpy(e.baseSha256, base.sha256, sizeof e.baseSha256);
  e.patch = PatchName(base.sha256, next.sha256);
  const fs::path out = run.stage.PathOf(PatchTreeName(s, e.patch));
  std::error_code ec;
  fs::create_directories(out.parent_path(), ec);
  const std::string what = "the patch of " + Shown(e.target) + " from version " + std::to_string(base.version);
  MadePatch made;
  const int result = MakePatch(run.history.FileOf(run.stage, base), f.path, out,
                               {static_cast<unsigned>(s.patchSeconds), uint64_t(s.patchMemoryMib) << 20}, &made);
  if (result != kPatchMade) {
    if (result == kPatchFailed) *error = what + ": " + PatchRefusal(result);
    if (result != kPatchFailed) Note(run, "no " + what + ": " + PatchRefusal(result));
    ++run.report->dropped;
    return result != kPatchFailed;
  }
  const uint64_t chunks = ChunkBytes(s, run.history.FileOf(run.stage, base), f.path, f.size);
  if (made.size >= chunks) {
    fs::remove(out, ec);
    Note(run, what + " (" + std::to_string(made.size) + " bytes) is dropped: the chunk transfer fetches " +
                  std::to_string(chunks));
    ++run.report->dropped;
    return true;
  }
  e.patchSize = made.size;
  std::memcpy(e.patchSha256, made.sha256, sizeof e.patchSha256);
  run.entries.push_back(e);
  ++run.report->made;
  run.report->bytes += made.size;
  std::printf("%s: %llu bytes of %llu (level %d, %.1f s)\n", what.c_str(), static_cast<unsigned long long>(made.size),
              static_cast<unsigned long long>(f.size), made.level, made.seconds);
  return true;
}

// The patches of a changed file from its newest earlier versions. The tree
// before serves the newest one; the history keeps it from now on.
bool PatchesOf(PatchRun& run, const ClientFile& f, std::string* error) {
  const Settings& s = run.work.settings;
  const std::string word = PatchTarget(f.name);
  const fs::path before = TreePath(run.work.before, FetchedFile(s, PublishedName(f.name)));
  uint8_t sha[ul::kSha256Bytes];
  uint64_t size = 0;
  std::error_code ec;
  if (fs::is_regular_file(before, ec) && Sha256OfFile(before, sha, &size) && size <= ul::kPatchMaxFileBytes &&
      !run.history.Has(word, sha) && !run.history.Add(run.stage, word, run.work.beforeVersion, before, error))
    return false;
  ul::PatchEntry next;
  next.target = word;
  if (!Sha256OfFile(f.path, next.sha256, &next.size)) {
    *error = "cannot read " + Shown(f.path);
    return false;
  }
  for (const HistoryEntry& base : run.history.Newest(word, static_cast<std::size_t>(s.patchBases))) {
    if (std::memcmp(base.sha256, next.sha256, ul::kSha256Bytes) == 0) continue;
    if (!MakeFrom(run, f, base, next, error)) return false;
  }
  return true;
}

// The patches of the tree before that still make a file this release left
// as it was.
std::vector<ul::PatchEntry> Kept(const TreeStage& stage, const PatchWork& w) {
  std::string bytes;
  ul::PatchList before;
  std::vector<ul::PatchEntry> kept;
  if (!ReadWholeFile(stage.PathOf(TreeRelative(w.settings.paths.patchList)), &bytes) ||
      !before.Parse(bytes.data(), bytes.size()))
    return kept;
  for (const ClientFile& f : w.scan.files) {
    const std::string word = PatchTarget(f.name);
    uint8_t sha[ul::kSha256Bytes];
    uint64_t size = 0;
    if (w.changed.count(f.name) || !before.Lists(word.c_str()) || !Sha256OfFile(f.path, sha, &size)) continue;
    for (const ul::PatchEntry& e : before.entries()) {
      std::error_code ec;
      if (e.target == word && e.size == size && std::memcmp(e.sha256, sha, ul::kSha256Bytes) == 0 &&
          fs::is_regular_file(stage.PathOf(PatchTreeName(w.settings, e.patch)), ec))
        kept.push_back(e);
    }
  }
  return kept;
}

// The list into the stage, and the patches it does not name out of it.
bool WriteList(PatchRun& run, std::string* error) {
  const Settings& s = run.work.settings;
  std::string text;
  if (!ul::FormatPatchList(run.entries, &text)) {
    *error = "the patch list would not read back";
    return false;
  }
  if (!run.stage.Write(TreeRelative(s.paths.patchList), text, error)) return false;
  std::set<fs::path> named = {run.stage.PathOf(TreeRelative(s.paths.patchList)).lexically_normal()};
  for (const ul::PatchEntry& e : run.entries) named.insert(run.stage.PathOf(PatchTreeName(s, e.patch)).lexically_normal());
  const fs::path folder = run.stage.PathOf(TreeRelative(s.paths.patchList)).parent_path();
  std::error_code ec;
  std::vector<fs::path> stale;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (!named.count(it->path().lexically_normal())) stale.push_back(it->path());
  }
  for (const fs::path& p : stale) fs::remove(p, ec);
  run.report->listed = run.entries.size();
  return true;
}

}  // namespace

std::string PatchTarget(const std::string& clientName) {
  return ul::EqualsNoCase(clientName.c_str(), kUpdaterName) ? std::string(kUpdaterNewCopy) : PublishedName(clientName);
}

bool WritePatches(TreeStage& stage, const PatchWork& work, const char* command, PatchReport* report,
                  std::string* error) {
  *report = PatchReport();
  if (work.settings.paths.patchList.empty()) return true;
  PatchRun run{stage, work, command, report, {}, Kept(stage, work)};
  if (!run.history.Read(stage, error)) return false;
  std::set<std::string> targets;
  Progress progress(command, "patching", work.changed.size());
  std::size_t done = 0;
  for (const ClientFile& f : work.scan.files) {
    if (f.size > ul::kPatchMaxFileBytes) continue;
    targets.insert(PatchTarget(f.name));
    if (!work.changed.count(f.name)) continue;
    if (!PatchesOf(run, f, error)) return false;
    progress.Step(++done);
  }
  // The new versions are the next release's newest bases.
  for (const ClientFile& f : work.scan.files) {
    if (f.size > ul::kPatchMaxFileBytes || !work.changed.count(f.name)) continue;
    const fs::path published = stage.PathOf(FetchedFile(work.settings, PublishedName(f.name)));
    if (!run.history.Add(stage, PatchTarget(f.name), work.version, published, error)) return false;
  }
  run.history.Trim(targets, static_cast<std::size_t>(work.settings.patchBases));
  return run.history.Write(stage, error) && WriteList(run, error);
}

bool WriteEmptyPatchList(TreeStage& stage, const Settings& settings, std::string* error) {
  std::string text;
  return settings.paths.patchList.empty() ||
         (ul::FormatPatchList({}, &text) && stage.Write(TreeRelative(settings.paths.patchList), text, error));
}

bool AnnouncesPatchList(const fs::path& tree, const Settings& settings) {
  OwnedFile f = OpenFile(TreePath(tree, TreeRelative(settings.paths.programConfig)), "rb");
  ProgramConfig config;
  return f && ParseProgramConfig(f.get(), false, nullptr, &config) && settings.paths.patchList == config.patchListPath;
}

}  // namespace ulp
