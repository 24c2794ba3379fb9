// ulmet-publish init: the first served tree from a client folder.
#include <cstdio>
#include <cstring>

#include "commands/chunk_indexes.h"
#include "tree/client_scan.h"
#include "commands/command_line.h"
#include "commands/options.h"
#include "commands/patches.h"
#include "commands/commands.h"
#include "commands/manifest.h"
#include "system/disk_names.h"
#include "commands/publish_steps.h"
#include "tree/tree_layout.h"
#include "formats/lists/program_config.h"
#include "formats/trust/verified_record.h"

namespace ulp {

namespace {

const char kCommand[] = "init";

const char kUsage[] =
    "usage: ulmet-publish init --client DIR --out TREE [--host H] [--version N] [--force]\n"
    "\n"
    "Writes the first server tree from the client folder as the full installer\n"
    "installs it:\n"
    "  UlLaunch/global_Ulmet.cfg   directory file: record 5001 -> H, port 80, the program configuration\n"
    "  UlLaunch/ULProgram.cfg      program configuration with the default sections\n"
    "  Ulmet3/UpdateList.dat       update list: the header only\n"
    "  Ulmet3/ULHashFile.dat       hash list of the client files\n"
    "  Ulmet3/files/...            every client file under its path, blanks as '!'\n"
    "  Ulmet3/chunks/...           chunk indexes of the big files, and their list\n"
    "  ulmet-publish.cfg           settings that release reads (keep the web server from serving it)\n"
    "\n"
    "--client DIR   the client folder (with UlmetMain.exe)\n"
    "--out TREE     where the tree goes; it is written beside as TREE.new and moved into place\n"
    "--host H       configuration server host (default 127.0.0.1)\n"
    "--version N    the version installed clients have (default 1000)\n"
    "--force        replace an existing tree (it is kept as TREE.previous)\n"
    "--chunk-index-from N\n"
    "               files of at least N bytes get a chunk index (default 4194304)\n"
    "--key FILE     sign the release with this private key (from keygen) before the tree\n"
    "               is moved into place\n"
    "--report URL   where the updaters post crash reports: http://HOST/PATH (port 80,\n"
    "               the updater's only one), written as [EXCEPTIONHOST] and [EXCEPTIONPATH];\n"
    "               default http://H/report/exception.php\n"
    "--no-verified-state\n"
    "               leave the verified-state record off: every start reads every file of\n"
    "               the hash list (by default the program configuration turns it on with\n"
    "               [VERIFIEDSTATE] \"on N\", see README.md)\n"
    "--verified-days N\n"
    "               every file is read again within N days (1 to 3650). By default 7,\n"
    "               or with [PACE] the fewest days from 7 up at which a start's share\n"
    "               of reading again ((the client's bytes + its biggest file) / (N - 1),\n"
    "               each file counting 128 KiB more for opening it) is at most 512 MiB,\n"
    "               about the second [PACE] gives it on a fast machine: a client of\n"
    "               10 GiB with a 2 GiB file gets 25 days. Fewer\n"
    "               days find a changed file sooner (one whose size and time were kept)\n"
    "               and make every start read more: at 7 days that client's starts each\n"
    "               read 2 GiB, some 4 s on a fast machine\n"
    "--no-pace      leave [PACE] out: the updater then reads as it always did, 4,096 bytes\n"
    "               of a download and 32 KB of the start's comparison between 1 ms pauses\n"
    "               (about 3.7 MB/s and 28 MB/s at most), and reads every file again once\n"
    "               the record's days have run out. By default [PACE] is\n"
    "               \"download 4194304 digest 4194304 reread 1000\": a pause after every\n"
    "               4 MiB (a 1 Gbit/s line loses some 3 % to the pauses, a disk a few\n"
    "               per cent), and each start reads again the files read longest ago for\n"
    "               about a second, at least a day's share (see --verified-days), so\n"
    "               that no start reads the whole client again (see README.md)\n"
    "--patches      make binary patches: every later release makes, for each changed file\n"
    "               of up to 256 MiB, patches from its earlier versions (the settings'\n"
    "               patch-bases, 2) kept in TREE/.ulmet-history, listed in\n"
    "               Ulmet3/patches/ULPatchList.dat and announced as [PATCHLIST]\n"
    "               (see README.md); by default a tree makes none\n";

struct InitOptions {
  const char* client = nullptr;
  const char* out = nullptr;
  std::string host = kDefaultHost;
  int version = kFirstVersion;
  bool force = false;
  const char* key = nullptr;
  int chunkIndexFrom = static_cast<int>(kDefaultChunkIndexFrom);
  std::string reportHost, reportPath;  // empty: the defaults
  bool verifiedState = true;
  int verifiedDays = 0;  // 0: sized to the client
  bool pace = true;
  bool patches = false;
};

// "http://HOST/PATH" into host and path; false when it is not such an
// address on port 80 (the updater posts to no other port).
bool ReportAddress(const std::string& url, std::string* host, std::string* path) {
  const std::string scheme = "http://";
  if (url.compare(0, scheme.size(), scheme) != 0 || url.find_first_of(" \t\r\n\"") != std::string::npos) return false;
  const std::string::size_type slash = url.find('/', scheme.size());
  if (slash == std::string::npos || slash == scheme.size()) return false;
  *host = url.substr(scheme.size(), slash - scheme.size());
  *path = url.substr(slash);
  const std::string::size_type colon = host->find(':');
  if (colon != std::string::npos) {
    if (host->substr(colon) != ":80") return false;
    host->erase(colon);
  }
  return !host->empty() && path->size() > 1;
}

// False when the program ends here (--help or a mistake), with *code.
bool ReadOptions(int argc, char** argv, InitOptions* o, int* code) {
  std::string report;
  bool noVerifiedState = false;
  bool noPace = false;
  if (!Options(kCommand, kUsage)
           .Text("--client", &o->client, true)
           .Text("--out", &o->out, true)
           .Text("--host", &o->host)
           .Text("--key", &o->key)
           .Text("--report", &report)
           .Number("--version", kFirstVersion, 2147483647L, &o->version)
           .Number("--chunk-index-from", 1, 2147483647L, &o->chunkIndexFrom)
           .Number("--verified-days", 1, kVerifiedDaysMax, &o->verifiedDays)
           .Flag("--force", &o->force)
           .Flag("--no-verified-state", &noVerifiedState)
           .Flag("--no-pace", &noPace)
           .Flag("--patches", &o->patches)
           .Read(argc, argv, code))
    return false;
  o->verifiedState = !noVerifiedState;
  o->pace = !noPace;
  *code = kExitUsage;
  if (!report.empty() && !ReportAddress(report, &o->reportHost, &o->reportPath)) {
    Fail(kCommand, kExitUsage, "--report takes http://HOST/PATH on port 80");
    return false;
  }
  if (o->host.empty() || o->host.find_first_of(" \t\r\n") != std::string::npos) {
    Fail(kCommand, kExitUsage, "--host takes a host name");
    return false;
  }
  return true;
}

// The record's days: as given, or with "[PACE]" sized to the client so that
// a start's reading again takes about the second the section gives it.
// What reading the client again costs the updater's starts, as its record
// counts it (ul::ReadCostOf), and its costliest file's share of that.
void ClientReadCost(const ClientScan& scan, uint64_t* cost, uint64_t* biggest) {
  *cost = *biggest = 0;
  for (const ClientFile& f : scan.files) {
    const uint64_t one = ul::ReadCostOf(f.size);
    *cost += one;
    *biggest = one > *biggest ? one : *biggest;
  }
}

int RecordDays(const InitOptions& o, const ClientScan& scan) {
  if (o.verifiedDays > 0) return o.verifiedDays;
  if (!o.pace) return kVerifiedDaysDefault;
  uint64_t cost, biggest;
  ClientReadCost(scan, &cost, &biggest);
  return VerifiedDaysFor(cost, biggest);
}

std::string RecordSummary(const InitOptions& o, const ClientScan& scan, int days) {
  if (!o.pace) return "every file read again after " + std::to_string(days) + " days";
  uint64_t cost, biggest;
  ClientReadCost(scan, &cost, &biggest);
  return "every file read again within " + std::to_string(days) + " days, each start reading about " +
         std::to_string(ul::DailyShareOf(cost, biggest, days) >> 20) + " MiB of it";
}

// The whole first tree into the stage; *hashed: the hash list's entries,
// *indexed: the files with a chunk index.
bool WriteFirstTree(TreeStage& stage, const Settings& s, const Sections& sections, const ClientScan& scan,
                    std::size_t* hashed, std::size_t* indexed, std::string* error) {
  std::vector<const ClientFile*> files;
  for (const auto& f : scan.files) files.push_back(&f);
  return stage.Write(kDirectoryFile, DirectoryFileText(s.host, s.port, s.paths.programConfig), error) &&
         stage.Write(TreeRelative(s.paths.programConfig), ProgramConfigText(sections), error) &&
         stage.Write(TreeRelative(s.paths.updateList), std::string(kUpdateListHeader) + "\n", error) &&
         PublishFiles(stage, s, files, kCommand, error) && WriteHashList(stage, s, scan, kCommand, hashed, error) &&
         WriteChunkIndexes(stage, s, scan, {}, kCommand, indexed, error) &&
         WriteEmptyPatchList(stage, s, error) && WriteSettings(stage, s, error) && CheckLists(stage, s, s.version, {}, s.version, *hashed, error);
}

int InitBody(int argc, char** argv) {
  InitOptions o;
  int code = kExitDone;
  if (!ReadOptions(argc, argv, &o, &code)) return code;
  const fs::path client = fs::absolute(ArgPath(o.client)).lexically_normal();
  const fs::path tree = fs::absolute(ArgPath(o.out)).lexically_normal();
  std::error_code ec;
  if (!fs::is_directory(client, ec)) return Fail(kCommand, kExitFailed, "no client folder " + Shown(client));
  std::string problem = NestingProblem(client, tree);
  if (problem.empty()) problem = ReplaceProblem(tree, o.force);
  if (!problem.empty()) return Fail(kCommand, kExitFailed, problem);

  Settings s;
  s.host = o.host;
  s.version = o.version;
  s.hashExcludes = DefaultHashExclusions();
  s.paths.chunkList = kDefaultChunkList;
  s.chunkIndexFrom = static_cast<unsigned long long>(o.chunkIndexFrom);
  if (o.patches) s.paths.patchList = kDefaultPatchList;
  ClientScan scan;
  std::vector<std::string> problems;
  if (!ScanClient(client, &scan, &problems)) return Fail(kCommand, kExitFailed, "cannot read " + Shown(client));
  const std::vector<std::string> more = ClientProblems(scan, s.hashExcludes, s.installFolder);
  problems.insert(problems.end(), more.begin(), more.end());
  if (!problems.empty()) {
    ListProblems(kCommand, "the client folder cannot be published; nothing was written:", problems);
    return kExitFailed;
  }
  for (const auto& f : scan.files) s.files.push_back(f.name);

  Sections sections = DefaultProgramSections(s.host, s.paths);
  // Players' starts read only the files that changed since they were last
  // verified; older updaters pass over the section.
  const int days = RecordDays(o, scan);
  if (o.verifiedState) sections.push_back(VerifiedStateSection(days));
  // Reads at a line's and a disk's speed, and no start that reads every
  // file again; older updaters pass over the section too.
  if (o.pace) sections.push_back(PaceSection());
  for (auto& section : sections) {
    if (section.first == "EXCEPTIONHOST" && !o.reportHost.empty()) section.second = o.reportHost;
    if (section.first == "EXCEPTIONPATH" && !o.reportPath.empty()) section.second = o.reportPath;
  }
  TreeStage stage(tree);
  std::string error;
  std::size_t hashed = 0, indexed = 0;
  if (!stage.Begin(&error) || !WriteFirstTree(stage, s, sections, scan, &hashed, &indexed, &error) ||
      !SignStage(stage.root().string(), o.key, false, &error) || !stage.MoveIn(true, &error))
    return Fail(kCommand, kExitFailed, error + "; nothing was changed at " + Shown(tree));
  std::printf("initialized %s: version %d, %zu client files, %zu in the hash list, %zu with a chunk index\n",
              Shown(tree).c_str(), s.version, scan.files.size(), hashed, indexed);
  if (o.verifiedState) std::printf("verified-state record: %s\n", RecordSummary(o, scan, days).c_str());
  return kExitDone;
}

}  // namespace

int RunInit(int argc, char** argv) { return Guarded(kCommand, InitBody, argc, argv); }

}  // namespace ulp
