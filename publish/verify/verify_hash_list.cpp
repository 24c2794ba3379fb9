// The hash list, read by the updater's reader; its lines are then walked
// again only to give each entry the reader kept its line number, and to say
// where and why the reader stopped or passed a line over.
#include <cstring>

#include "formats/base/safe_path.h"
#include "formats/lists/hash_list.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

bool SameEntry(const HashEntry& a, const HashEntry& b) {
  return a.entryNumber == b.entryNumber && std::strcmp(a.fileName, b.fileName) == 0 &&
         std::strcmp(a.digestHex, b.digestHex) == 0 && std::strcmp(a.subPath, b.subPath) == 0;
}

// Lines after pieces[from] that the reader would have read: not comments,
// not blank.
int DataLinesAfter(const std::vector<TextPiece>& pieces, std::size_t from) {
  int n = 0;
  for (std::size_t i = from + 1; i < pieces.size(); ++i) {
    if (pieces[i].first && !pieces[i].text.empty() && pieces[i].text[0] != ';') ++n;
  }
  return n;
}

// Files the entry names, for the later fetch and digest comparison.
void IndexEntry(VerifyRun& run, const HashEntry& entry, int line, const std::string& where) {
  std::string objectPath;
  std::string local;
  if (!HashObjectPath(run.config.program, run.clientFolder.c_str(), entry, &objectPath, &local)) {
    run.report.Problem(where, LineRef(line) + Quoted(std::string(entry.subPath) + entry.fileName) +
                                  ": the path gate refuses it below " + run.clientFolder +
                                  ": the updater neither compares nor fetches it");
    return;
  }
  if (!ul::DownloadPathFits(local.c_str()))
    run.report.Problem(where, LineRef(line) + Quoted(local + ul::kDownloadPartialSuffix) +
                                  ", where the updater fetches it again, is longer than the " +
                                  std::to_string(ul::kLongestPath) +
                                  " characters Windows opens: its repair always fails");
  const std::string origin = "hash list line " + std::to_string(line);
  NamedFile& file = run.index.Add(objectPath, origin);
  file.digests.push_back({entry.digestHex, origin});
}

// The reader ended at pieces[i]: report it unless it is a blank last line.
void ReportEnd(VerifyRun& run, const std::vector<TextPiece>& pieces, std::size_t i,
               const std::string& where) {
  const int lost = DataLinesAfter(pieces, i);
  if (pieces[i].text.empty() && lost == 0) return;
  run.report.Problem(where, LineRef(pieces[i].line) + Quoted(pieces[i].text) +
                                " is no name:number:digest:folder line (an empty field, a ':' in "
                                "a name, or entry number 0): the updater stops reading here and "
                                "never reads the " +
                                std::to_string(lost) + " lines after it");
}

}  // namespace

bool CheckHashList(VerifyRun& run) {
  TreeConfig& c = run.config;
  if (c.program.hashListPath[0] == '\0') return true;  // reported with the program configuration
  const std::string where = run.tree.Where(c.program.hashListPath);
  LocalCopy copy;
  if (!FetchText(run, c.program.hashListPath, &copy, "the updater ends every run here"))
    return !run.unreachable;
  bool any = false;
  std::vector<TextPiece> pieces;
  HashList read;
  if (!ReadAsUpdater(copy, [&read](std::FILE* f) { return ParseHashList(f, &read); }, &any) ||
      !ReadPieces(copy.path(), &pieces)) {
    run.report.Problem(where, "cannot be opened");
    return true;
  }
  // The reader's refusals are found again below, with their lines.
  c.hashEntries = std::move(read.entries);
  std::size_t next = 0;  // the reader's next entry
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const TextPiece& p = pieces[i];
    if (p.first) ++run.lines;
    if (p.first && p.lineLength > kLongestLine)
      run.report.Problem(where, LineRef(p.line) + std::to_string(p.lineLength) +
                                    " characters, longer than the " + std::to_string(kLongestLine) +
                                    " the updater reads at once: it reads the pieces as lines");
    if (p.text[0] == ';') continue;
    HashEntry entry;
    if (!ParseHashLine(p.text.c_str(), entry)) {
      ReportEnd(run, pieces, i, where);
      break;
    }
    if (next < c.hashEntries.size() && SameEntry(c.hashEntries[next], entry)) {
      IndexEntry(run, c.hashEntries[next++], p.line, where);
    } else {
      run.report.Problem(where, LineRef(p.line) + Quoted(p.text) +
                                    ": the updater passes it over (its name or folder leads out "
                                    "of the client folder)");
    }
  }
  if (!any)
    run.report.Problem(where, "no entry the updater accepts: it ends every run after reading it");
  return true;
}

}  // namespace ulp
