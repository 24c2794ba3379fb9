// The update list: the header through the updater's list reader, then every
// line through its line parser, one line at a time with nothing installed,
// so that every line counts whatever a client has. The parser says which
// names it took, refused or marked.
#include <cstring>
#include <map>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/lists/update_list.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

struct ListWalk {
  std::string where;
  int lastVersion = 0;
  int lastVersionLine = 0;
  std::vector<std::pair<int, int>> lines;        // (line, version) of every versioned line
  std::vector<std::pair<int, int>> selfUpdates;  // (line, version) of lines with the new copy
};

// A name the parser took: what the updater does with it, and the file it
// will request.
void CheckEntry(VerifyRun& run, const ListWalk& walk, const std::string& entry, int line,
                bool fullInstall) {
  const std::string at = LineRef(line) + "entry " + Quoted(entry);
  if (entry.size() >= ul::kPathCap) {
    run.report.Problem(walk.where, at + " has " + std::to_string(entry.size()) +
                                       " characters: the updater cuts names to " +
                                       std::to_string(ul::kPathCap - 1));
    return;
  }
  if (fullInstall) {
    if (run.fullInstallLine == 0) run.fullInstallLine = line;
    return;  // the updater fetches the installer instead
  }
  const UpdateEntryKind kind = ClassifyUpdateEntry(entry.c_str());
  if (kind == kEntryInstallerMarker) return;
  char local[ul::kPathCap];
  LocalNameOf(UpdateEntryName(entry.c_str()), local);
  char path[ul::kPathCap];
  if (!ul::ResolveInsideFolder(run.clientFolder.c_str(), local, path)) {
    run.report.Problem(walk.where, at + ": the path gate refuses " + Quoted(local) + " below " +
                                       run.clientFolder + ": the updater passes it over");
    return;
  }
  if (kind != kEntryFetch) return;
  if (!ul::DownloadPathFits(path)) {
    run.report.Problem(walk.where, at + ": " + Quoted(std::string(path) + ul::kDownloadPartialSuffix) +
                                       ", where the updater downloads it, is longer than the " +
                                       std::to_string(ul::kLongestPath) +
                                       " characters Windows opens: every download of it fails");
    return;
  }
  if (run.config.program.updateSubPath[0] == '\0') return;
  if (entry.find('\\') != std::string::npos)
    run.report.Warning(walk.where, at + " names its folder with '\\': only a server that takes "
                                        "'\\' for '/' serves it");
  NamedFile& file = run.index.Add(EntryObjectPath(run.config.program, entry.c_str()),
                                  "update list line " + std::to_string(line));
  if (std::strlen(local) > 3 && ul::EndsWithNoCase(local, "zip")) {
    // The archive is unpacked into the folder it lies in.
    file.unpackFolder = path;
    file.unpackFolder.erase(file.unpackFolder.rfind('\\'));
  }
}

// One piece of the list as the parser takes a line.
void CheckLine(VerifyRun& run, ListWalk& walk, const TextPiece& piece) {
  int32_t version = 0;
  if (!UpdateLineVersion(piece.text.c_str(), &version)) return;
  if (version < walk.lastVersion)
    run.report.Problem(walk.where, LineRef(piece.line) + "version " + std::to_string(version) +
                                       " after version " + std::to_string(walk.lastVersion) +
                                       " (line " + std::to_string(walk.lastVersionLine) +
                                       "): versions must not go down the list");
  if (version >= walk.lastVersion) {
    walk.lastVersion = version;
    walk.lastVersionLine = piece.line;
  }
  walk.lines.emplace_back(piece.line, version);

  UpdateFileList list;
  std::vector<UpdateWord> words;
  list.ParseUpdateLine(piece.text.c_str(), 0, &words);
  for (const UpdateWord& w : words) {
    if (w.refused) {
      run.report.Problem(walk.where, LineRef(piece.line) + "entry " + Quoted(w.text) +
                                         ": the updater passes it over (absolute, a drive, '..', "
                                         "or nothing after its '-' or '=')");
    } else {
      CheckEntry(run, walk, w.text, piece.line, w.marker == kMarkerMajorUpdate);
    }
  }
  if (list.selfUpdateMarked) walk.selfUpdates.emplace_back(piece.line, version);
}

// The updater stops reading at the end of the line with its new copy; the
// new copy reads on only from the next higher version.
void CheckSelfUpdateLines(VerifyRun& run, const ListWalk& walk) {
  for (const auto& self : walk.selfUpdates) {
    for (const auto& later : walk.lines) {
      if (later.first > self.first && later.second == self.second) {
        run.report.Problem(walk.where, LineRef(self.first) +
                                           "the updater's new copy is not on the last line of "
                                           "version " +
                                           std::to_string(self.second) + ": line " +
                                           std::to_string(later.first) +
                                           " of the same version is never read");
        break;
      }
    }
  }
}

}  // namespace

bool CheckUpdateList(VerifyRun& run) {
  TreeConfig& c = run.config;
  if (c.program.updateListPath[0] == '\0') return true;  // reported with the program configuration
  ListWalk walk;
  walk.where = run.tree.Where(c.program.updateListPath);
  LocalCopy copy;
  if (!FetchText(run, c.program.updateListPath, &copy, "the updater shows its list error and ends the run"))
    return !run.unreachable;
  UpdateFileList whole;
  std::vector<UpdateWord> words;
  bool headerOk = false;
  std::vector<TextPiece> pieces;
  if (!ReadAsUpdater(copy, [&](std::FILE* f) { return whole.ReadListFile(f, 0, &words) == kListRead; },
                     &headerOk) ||
      !ReadPieces(copy.path(), &pieces)) {
    run.report.Problem(walk.where, "cannot be opened");
    return true;
  }
  if (!headerOk) {
    run.report.Problem(walk.where, "empty, or the first line is not [ULMET] or [ULMET3.0]: the "
                                   "updater shows its list error and ends the run");
    return true;
  }
  for (const TextPiece& p : pieces) {
    if (p.line == 1) continue;  // the header
    if (p.first) ++run.lines;
    if (p.lineLength <= kLongestLine) {
      CheckLine(run, walk, p);
    } else if (p.first) {
      run.report.Problem(walk.where, LineRef(p.line) + std::to_string(p.lineLength) +
                                         " characters, longer than the " +
                                         std::to_string(kLongestLine) +
                                         " the updater reads at once: names across the cut are "
                                         "lost or mangled; split the version over more lines");
    }
  }
  CheckSelfUpdateLines(run, walk);
  return true;
}

}  // namespace ulp
