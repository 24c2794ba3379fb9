// ulmet-publish release: the next version of a published tree from the new
// client folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>

#include "commands/chunk_indexes.h"
#include "tree/client_scan.h"
#include "formats/base/bounded.h"
#include "commands/command_line.h"
#include "commands/options.h"
#include "commands/patches.h"
#include "commands/commands.h"
#include "commands/manifest.h"
#include "system/disk_names.h"
#include "system/file_io.h"
#include "commands/publish_steps.h"
#include "tree/release_plan.h"
#include "formats/lists/client_files.h"
#include "tree/server_lists.h"
#include "tree/tree_layout.h"
#include "tree/zip_writer.h"

namespace ulp {

namespace {

const char kCommand[] = "release";

const char kUsage[] =
    "usage: ulmet-publish release --tree TREE --client DIR [--version N] [--archive FOLDER]...\n"
    "                             [--installer FILE]\n"
    "\n"
    "Publishes the next version from the new client folder into a tree that init wrote:\n"
    "added and changed files (by their bytes against the tree's copies) become the\n"
    "version's entries, deleted files \"-name\", deleted folders \"=Folder\", a changed\n"
    "Ulmet.exe \"Ulmet.ex_\" as the last entry. Older lines stay as they are, and so do\n"
    "the files they name. The hash list is rewritten for the new client folder.\n"
    "The new tree is written beside as TREE.new; then TREE becomes TREE.previous\n"
    "(replacing an older one) and TREE.new becomes TREE. On failure TREE stays as it was.\n"
    "\n"
    "--tree TREE        the published tree (its ulmet-publish.cfg holds the settings)\n"
    "--client DIR       the new client folder (with UlmetMain.exe)\n"
    "--version N        the new version (default: the tree's version + 1; must be above it)\n"
    "--archive FOLDER   publish this client folder (e.g. Data/Skins) as the archive\n"
    "                   Data/Skins.zip whenever anything in it changes; remembered for\n"
    "                   later releases (repeatable)\n"
    "--installer FILE   the full installer: published as [INSTALLVERSION], and clients\n"
    "                   below this version reinstall from it\n"
    "--key FILE         sign the release with this private key (from keygen) before the\n"
    "                   tree is moved into place; a signed tree needs it for every release\n"
    "--unsigned         publish a signed tree's next release without a signature (its old\n"
    "                   manifest and signature go; updaters built with a key refuse it)\n"
    "\n"
    "A tree made with \"init --patches\" (the setting patch-list) also gets binary patches of\n"
    "the changed files from their earlier versions (see README.md).\n";

struct ReleaseOptions {
  const char* tree = nullptr;
  const char* client = nullptr;
  int version = 0;  // 0: the tree's + 1
  std::vector<std::string> archives;
  const char* installer = nullptr;
  const char* key = nullptr;
  bool dropSignature = false;
};

// False when the program ends here (--help or a mistake), with *code.
bool ReadOptions(int argc, char** argv, ReleaseOptions* o, int* code) {
  return Options(kCommand, kUsage)
      .Text("--tree", &o->tree, true)
      .Text("--client", &o->client, true)
      .Texts("--archive", &o->archives)
      .Text("--installer", &o->installer)
      .Text("--key", &o->key)
      .Flag("--unsigned", &o->dropSignature)
      .Number("--version", kFirstVersion, 2147483647L, &o->version)
      .Read(argc, argv, code);
}

// Everything the release works from and decides.
struct Release {
  fs::path tree, client, installer;
  Settings settings;     // as the tree has them
  std::string oldList;   // the update list's bytes
  ClientScan scan;
  std::vector<ClientFileState> states;
  Plan plan;
  int version = 0;
};

// The tree's settings and update list; "" or what is wrong.
std::string ReadTree(Release& r) {
  std::string text, error;
  std::error_code ec;
  if (!fs::is_directory(r.tree, ec)) return "no tree " + Shown(r.tree);
  if (!ReadWholeFile(r.tree / kSettingsFile, &text))
    return Shown(r.tree) + " is not a tree that init wrote: it has no " + kSettingsFile;
  if (!ParseSettings(text, &r.settings, &error)) return Shown(r.tree / kSettingsFile) + ": " + error;
  if (!ReadWholeFile(TreePath(r.tree, TreeRelative(r.settings.paths.updateList)), &r.oldList))
    return Shown(r.tree) + " has no update list at " + r.settings.paths.updateList;
  return "";
}

// The archive folders: the settings' and the command line's (which must be
// folders of the client); "" or what is wrong.
std::string AddArchives(Release& r, const std::vector<std::string>& options) {
  std::vector<std::string>& archives = r.settings.archives;
  for (const std::string& option : options) {
    const char* arg = option.c_str();
    std::string name;
    if (!ArgName(arg, &name)) return std::string("--archive ") + arg + ": has no form in code page 949";
    std::replace(name.begin(), name.end(), '\\', '/');
    while (!name.empty() && name.back() == '/') name.pop_back();
    if (!r.scan.folders.count(name)) return std::string("--archive ") + arg + ": no such folder in the client folder";
    if (std::find(archives.begin(), archives.end(), name) == archives.end()) archives.push_back(name);
  }
  for (const auto& a : archives) {
    const std::string why = ListWordProblem(ArchiveEntry(a));
    if (!why.empty()) return "archive " + Shown(ArchiveEntry(a)) + ": " + why;
  }
  return "";
}

// Each client file against the tree's copy and the previous file list.
void CompareFiles(Release& r) {
  const std::set<std::string> before(r.settings.files.begin(), r.settings.files.end());
  Progress progress(kCommand, "comparing", r.scan.files.size());
  for (std::size_t i = 0; i < r.scan.files.size(); ++i) {
    const ClientFile& f = r.scan.files[i];
    ClientFileState s{f.name, FileState::kAdded};
    if (before.count(f.name)) {
      const fs::path copy = TreePath(r.tree, FetchedFile(r.settings, PublishedName(f.name)));
      s.state = SameBytes(f.path, copy) ? FileState::kUnchanged : FileState::kChanged;
    }
    r.states.push_back(s);
    progress.Step(i + 1);
  }
}

// The client folder read and decided on; "" or what is wrong (problems
// listed in *problems).
std::string Prepare(Release& r, const ReleaseOptions& o, std::vector<std::string>* problems) {
  std::error_code ec;
  if (!fs::is_directory(r.client, ec)) return "no client folder " + Shown(r.client);
  std::string why = NestingProblem(r.client, r.tree);
  if (!why.empty()) return why;
  if (o.version == 0 && r.settings.version == INT32_MAX) return "the tree's version is the highest there is";
  r.version = o.version != 0 ? o.version : r.settings.version + 1;
  if (r.version <= r.settings.version)
    return "version " + std::to_string(r.version) + " is not above the tree's " + std::to_string(r.settings.version);
  if (o.installer != nullptr) {
    r.installer = ArgPath(o.installer);
    if (!fs::is_regular_file(r.installer, ec) || fs::file_size(r.installer, ec) == 0)
      return "no installer " + Shown(r.installer) + " (or it is empty)";
  }
  if (!ScanClient(r.client, &r.scan, problems)) return "cannot read " + Shown(r.client);
  const std::vector<std::string> more = ClientProblems(r.scan, r.settings.hashExcludes, r.settings.installFolder);
  problems->insert(problems->end(), more.begin(), more.end());
  if (!problems->empty()) return "";
  why = AddArchives(r, o.archives);
  if (!why.empty()) return why;
  CompareFiles(r);
  PlanInput in;
  in.before = r.settings.files;
  in.now = r.states;
  for (const auto& f : r.scan.folders) in.nowFolders.insert(f.first);
  in.archiveFolders = r.settings.archives;
  in.installer = o.installer != nullptr;
  r.plan = PlanRelease(in);
  if (r.plan.entries.empty())
    return "the client folder is the same as version " + std::to_string(r.settings.version) + "; nothing to release";
  return "";
}

// The client files whose bytes the tree gets anew, and every tree file this
// release writes.
std::vector<const ClientFile*> NewCopies(const Release& r, std::set<std::string>* written) {
  std::vector<const ClientFile*> files;
  for (std::size_t i = 0; i < r.scan.files.size(); ++i) {
    if (r.states[i].state == FileState::kUnchanged) continue;
    files.push_back(&r.scan.files[i]);
    written->insert(FetchedFile(r.settings, PublishedName(r.scan.files[i].name)));
  }
  for (const auto& a : r.plan.archives) written->insert(FetchedFile(r.settings, ArchiveEntry(a)));
  if (r.plan.updaterCopy) written->insert(FetchedFile(r.settings, kUpdaterNewCopy));
  if (!r.installer.empty()) written->insert(TreeRelative(r.settings.paths.installer));
  written->insert(TreeRelative(r.settings.paths.updateList));
  written->insert(TreeRelative(r.settings.paths.hashList));
  written->insert(kSettingsFile);
  return files;
}

bool WriteArchives(TreeStage& stage, const Release& r, std::string* error) {
  for (const auto& a : r.plan.archives) {
    const fs::path folder = r.scan.folders.at(a);
    std::vector<ZipMember> members;
    if (!CollectMembers(folder.parent_path(), folder, &members, error) ||
        !WriteZip(stage.PathOf(FetchedFile(r.settings, ArchiveEntry(a))), members, error))
      return false;
  }
  return true;
}

// The update list: the tree's lines as they were, then the new version's.
std::string NewList(const Release& r) {
  std::string list = r.oldList;
  if (!list.empty() && list.back() != '\n') list += '\n';
  for (const auto& line : VersionLines(r.version, r.plan.entries)) list += line + "\n";
  return list;
}

// What a client below the new version collects: everything, unless the
// installer entry ends its reading after the version's first line.
std::vector<std::string> Expected(const Release& r) {
  if (r.installer.empty()) return r.plan.entries;
  const std::vector<std::string> lines = VersionLines(r.version, r.plan.entries);
  std::vector<std::string> first;
  std::string::size_type p = lines[0].find(' ');
  while (p != std::string::npos) {
    std::string::size_type next = lines[0].find(' ', p + 1);
    first.push_back(lines[0].substr(p + 1, next == std::string::npos ? std::string::npos : next - p - 1));
    p = next;
  }
  return first;
}

bool WriteRelease(TreeStage& stage, Release& r, std::size_t* hashed, std::size_t* indexed, PatchReport* patches,
                  std::string* error) {
  std::set<std::string> written, changed;
  const std::vector<const ClientFile*> copies = NewCopies(r, &written);
  for (const ClientFile* f : copies) changed.insert(f->name);
  Settings after = r.settings;
  after.version = r.version;
  after.archives = r.plan.archiveFolders;
  after.files.clear();
  for (const auto& f : r.scan.files) after.files.push_back(f.name);
  fs::path updater;
  for (const auto& f : r.scan.files) {
    if (ul::EqualsNoCase(f.name.c_str(), kUpdaterName)) updater = f.path;
  }
  return stage.Begin(error) && stage.CarryOver(r.tree, written, error) &&
         PublishFiles(stage, after, copies, kCommand, error) && WriteArchives(stage, r, error) &&
         (!r.plan.updaterCopy || stage.Copy(FetchedFile(after, kUpdaterNewCopy), updater, error)) &&
         (r.installer.empty() || stage.Copy(TreeRelative(after.paths.installer), r.installer, error)) &&
         stage.Write(TreeRelative(after.paths.updateList), NewList(r), error) &&
         WriteHashList(stage, after, r.scan, kCommand, hashed, error) &&
         WriteChunkIndexes(stage, after, r.scan, changed, kCommand, indexed, error) &&
         WritePatches(stage, PatchWork{after, r.tree, r.settings.version, r.version, r.scan, changed}, kCommand,
                      patches, error) &&
         WriteSettings(stage, after, error) &&
         CheckLists(stage, after, r.settings.version, Expected(r), r.version, *hashed, error);
}

void Report(const Release& r, std::size_t hashed, std::size_t indexed, const PatchReport& patches) {
  std::size_t changed = 0, added = 0;
  for (const auto& s : r.states) {
    changed += s.state == FileState::kChanged;
    added += s.state == FileState::kAdded;
  }
  for (const auto& note : r.plan.notes) Fail(kCommand, kExitDone, "note: " + Shown(note));
  const std::vector<std::string> lines = VersionLines(r.version, r.plan.entries);
  std::printf("released version %d into %s: %zu changed and %zu added files, %zu entries on %zu line(s), %zu in "
              "the hash list, %zu with a chunk index; the tree before is %s\n",
              r.version, Shown(r.tree).c_str(), changed, added, r.plan.entries.size(), lines.size(), hashed,
              indexed, Shown(TreeStage::PreviousOf(r.tree)).c_str());
  if (!r.settings.paths.chunkList.empty() && !AnnouncesChunkList(r.tree, r.settings))
    Fail(kCommand, kExitDone,
         "note: the program configuration has no [CHUNKLIST] " + r.settings.paths.chunkList +
             ": updaters fetch every file whole until it says so");
  for (const auto& line : lines) std::printf("  %s\n", Shown(line).c_str());
  if (r.settings.paths.patchList.empty()) return;
  std::printf("patches: %zu listed, %zu made by this release (%llu bytes), %zu not kept\n", patches.listed,
              patches.made, static_cast<unsigned long long>(patches.bytes), patches.dropped);
  if (!AnnouncesPatchList(r.tree, r.settings))
    Fail(kCommand, kExitDone,
         "note: the program configuration has no [PATCHLIST] " + r.settings.paths.patchList +
             ": updaters make no file from a patch until it says so");
}

int ReleaseBody(int argc, char** argv) {
  ReleaseOptions o;
  int code = kExitDone;
  if (!ReadOptions(argc, argv, &o, &code)) return code;
  Release r;
  r.tree = fs::absolute(ArgPath(o.tree)).lexically_normal();
  r.client = fs::absolute(ArgPath(o.client)).lexically_normal();
  std::string why = ReadTree(r);
  std::vector<std::string> problems;
  if (why.empty()) why = Prepare(r, o, &problems);
  if (!problems.empty()) {
    ListProblems(kCommand, "the client folder cannot be published; the tree is unchanged:", problems);
    return kExitFailed;
  }
  std::error_code ec;
  if (!why.empty())
    return Fail(kCommand, kExitFailed, fs::is_directory(r.tree, ec) ? why + "; the tree is unchanged" : why);
  TreeStage stage(r.tree);
  std::size_t hashed = 0, indexed = 0;
  PatchReport patches;
  if (!WriteRelease(stage, r, &hashed, &indexed, &patches, &why) || !SignStage(stage.root().string(), o.key, o.dropSignature, &why) ||
      !stage.MoveIn(true, &why))
    return Fail(kCommand, kExitFailed, why + "; " + Shown(r.tree) + " is unchanged");
  Report(r, hashed, indexed, patches);
  return kExitDone;
}

}  // namespace

int RunRelease(int argc, char** argv) { return Guarded(kCommand, ReleaseBody, argc, argv); }

}  // namespace ulp
