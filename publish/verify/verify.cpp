#include "verify/verify.h"

#include <cstring>

#include "formats/lists/directory_file.h"
#include "formats/lists/program_config.h"
#include "system/key.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

// The steps in the updater's order: the signed release (whose sizes bound
// what a served check stores), the directory file, the program
// configuration and the hash list before the run's dialog, then the update
// list, then every file they name. Further checks of the served tree (its
// signatures, say) follow as steps of their own: by then run.index holds
// every file the lists name, and run.config the tree's settings.
struct Step {
  bool (*run)(VerifyRun& run);
};
const Step kSteps[] = {
    {ReadSignedRelease},  {CheckDirectoryFile}, {CheckProgramConfig}, {CheckHashList},
    {CheckUpdateList},    {CheckInstaller},     {CheckChunkList},     {CheckPatchList},
    {CheckNamedFiles},    {CheckPatches},       {CheckSignedRelease},
};

}  // namespace

std::string LineRef(int line) { return "line " + std::to_string(line) + ": "; }

bool FetchText(VerifyRun& run, const std::string& objectPath, LocalCopy* copy,
               const char* consequence) {
  FetchOutcome o = run.tree.Fetch(objectPath, copy);
  ++run.files;
  if (o.status == kFetched) return true;
  if (o.status == kUnreachable) {
    run.unreachable = true;
    run.report.Problem(run.tree.Name(), "the server cannot be reached: " + o.detail);
  } else {
    run.report.Problem(run.tree.Where(objectPath),
                       (o.status == kMissing ? "missing (" : "unreadable (") + o.detail + "): " +
                           consequence);
  }
  return false;
}

int VerifyTree(const VerifyOptions& options, std::FILE* out, std::FILE* progress) {
  std::unique_ptr<VerifyRun> run(new VerifyRun(out));
  run->clientFolder = options.clientFolder;
  run->progress = progress;
  std::string why;
  uint8_t key[ul::kP256KeyBytes];
  if (!options.releaseKey.empty()) {
    if (!ReadPublicKeyFile(options.releaseKey, key, &why)) {
      std::fprintf(progress != nullptr ? progress : out, "ulmet-publish verify: %s\n", why.c_str());
      return 2;
    }
    run->releaseKey = ul::FormatPublicKey(key);
  }
  const int opened = run->tree.Open(options.where, &why);
  if (opened == ServedTree::kBadAddress) {
    std::fprintf(progress != nullptr ? progress : out, "ulmet-publish verify: %s: %s\n",
                 options.where.c_str(), why.c_str());
    return 2;
  }
  if (opened == ServedTree::kNoTree) {
    run->report.Problem(options.where, why);
  } else {
    for (const Step& step : kSteps) {
      if (!step.run(*run)) break;
    }
  }
  run->report.Summary(run->lines, run->files);
  return run->report.problems() == 0 ? 0 : 1;
}

// The directory file: record 5001 names the host and the program
// configuration's path. The check fetches everything from the address it
// was given; a record that names another host is worth a warning, since the
// updater follows the record.
bool CheckDirectoryFile(VerifyRun& run) {
  const std::string where = run.tree.Where(kDirectoryFilePath);
  LocalCopy copy;
  if (!FetchText(run, kDirectoryFilePath, &copy, "the updater ends every run here")) return false;
  DirectoryRecord& c = run.config.directory;
  bool parsed = false;
  if (!ReadAsUpdater(copy, [&c](std::FILE* f) { return ParseDirectoryFile(f, &c); }, &parsed)) {
    run.report.Problem(where, "cannot be opened");
    return false;
  }
  if (!parsed || c.programConfigPath[0] == '\0') {
    run.report.Problem(where, !parsed ? "the file ends inside a record: the updater ends every run here"
                                      : "no record 5001 naming the program configuration: the "
                                        "updater ends every run here");
    return false;
  }
  run.report.Note(where, "record 5001: host " + ForDisplay(c.serverHost) + ", port " +
                             std::to_string(c.serverPort) + ", program configuration " +
                             ForDisplay(c.programConfigPath));
  if (c.serverHost[0] == '\0') {
    run.report.Problem(where, "record 5001 names no host: the updater ends every run here");
    return false;
  }
  if (run.tree.served() && run.tree.host() != c.serverHost)
    run.report.Warning(where, "record 5001 names host " + ForDisplay(c.serverHost) + ", not " +
                                  run.tree.host() +
                                  ": the updater fetches everything else from that host");
  if (c.serverPort != 80)
    run.report.Warning(where, "record 5001 names port " + std::to_string(c.serverPort) +
                                  ": the updater always connects to port 80");
  return true;
}

namespace {

// Why the program configuration's reader refuses a section's value.
std::string RefusalReason(const std::string& header, bool hasValue) {
  if (!hasValue) return "has no value line";
  if (header == "[INSTANCENUMBER]") return "must be 5001";
  if (header == "[CHECKUP]") return "must be 0, 1 or 2";
  if (header == "[REGISTRY]") return "must be HK_LOCAL_MACHINE or HK_CURRENT_USER";
  return "is refused";
}

// Whether the updater's reader accepts the first count pieces alone.
bool PrefixParses(VerifyRun& run, const std::vector<TextPiece>& pieces, std::size_t count) {
  const std::string path = run.tree.TempPath();
  std::FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
  if (f == nullptr) return true;
  LocalCopy copy;
  copy.Set(path, true);
  for (std::size_t i = 0; i < count; ++i) std::fprintf(f, "%s\n", pieces[i].text.c_str());
  std::fclose(f);
  ProgramConfig scratch;
  bool parsed = true;
  ReadAsUpdater(copy, [&scratch](std::FILE* g) { return ParseProgramConfig(g, false, nullptr, &scratch); },
                &parsed);
  return parsed;
}

// The reader stops at the first section it refuses and says no more. That
// section is the first piece from which on every longer prefix of the file
// is refused too: a prefix that ends right after an acceptable header is
// refused only for its missing value.
void ReportConfigRefusal(VerifyRun& run, const LocalCopy& copy, const std::string& where) {
  const char kEnds[] = "the updater ends every run here";
  std::vector<TextPiece> pieces;
  const std::size_t kMostPieces = 2000;  // beyond that, the file is no configuration
  if (!ReadPieces(copy.path(), &pieces) || pieces.empty() || pieces.size() > kMostPieces) {
    run.report.Problem(where, std::string("the updater's reader refuses it: ") + kEnds);
    return;
  }
  std::size_t header = pieces.size();
  while (header > 0 && !PrefixParses(run, pieces, header - 1)) --header;
  std::size_t value = header;  // header is the first refused prefix's last piece, counted from 1
  while (value < pieces.size() && pieces[value].text[0] == ';') ++value;
  const TextPiece& h = pieces[header - 1];
  const bool hasValue = value < pieces.size();
  run.report.Problem(where, LineRef(h.line) + Quoted(h.text) +
                                (hasValue ? " " + Quoted(pieces[value].text) : "") + " " +
                                RefusalReason(h.text, hasValue) + ": " + kEnds);
}

}  // namespace

// The program configuration: read whole, with the sections the run needs.
bool CheckProgramConfig(VerifyRun& run) {
  TreeConfig& c = run.config;
  const std::string path = c.directory.programConfigPath;
  const std::string where = run.tree.Where(path);
  LocalCopy copy;
  if (!FetchText(run, path, &copy, "the updater ends every run here")) return false;
  bool parsed = false;
  if (!ReadAsUpdater(copy, [&c](std::FILE* f) { return ParseProgramConfig(f, false, nullptr, &c.program); },
                     &parsed)) {
    run.report.Problem(where, "cannot be opened");
    return false;
  }
  if (!parsed) {
    ReportConfigRefusal(run, copy, where);
    return false;
  }
  const struct {
    const char* header;
    const char* value;
    const char* consequence;
  } needed[] = {
      {"[UPDATELIST]", c.program.updateListPath, "the updater cannot fetch the update list"},
      {"[UPDATESUBPATH]", c.program.updateSubPath, "the updater cannot fetch any listed file"},
      {"[FILEHASH]", c.program.hashListPath, "the updater ends every run after this file"},
  };
  for (const auto& n : needed) {
    if (n.value[0] == '\0')
      run.report.Problem(where, std::string(n.header) + " is missing or empty: " + n.consequence);
  }
  if (c.program.checkupMode != 0)
    run.report.Warning(where, "[CHECKUP] " + std::to_string(c.program.checkupMode) +
                                  ": the service is in maintenance; the updater only opens " +
                                  ForDisplay(c.program.checkupNotice) + " and updates nothing");
  return true;
}

}  // namespace ulp
