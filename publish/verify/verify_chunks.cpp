// verify's check of the chunk indexes: the list the program configuration
// announces, and every index it names against the bytes served for its
// file. An index that does not match its file costs the updaters that use
// it a whole download after the chunks they fetched for nothing.
#include <cstring>

#include "tree/file_digest.h"
#include "formats/chunks/chunk_list.h"
#include "system/key.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

const char kWhole[] = "updaters fetch the file whole";

// What differs between the index as served and the one made of the bytes
// served; "" when nothing does.
std::string Difference(const ul::ChunkIndex& served, const ul::ChunkIndex& made) {
  if (served.size != made.size)
    return "it records " + std::to_string(served.size) + " bytes, the file has " + std::to_string(made.size);
  if (std::memcmp(served.sha256, made.sha256, ul::kSha256Bytes) != 0)
    return "it records another SHA-256 of the whole file";
  for (std::size_t i = 0; i < served.chunks.size() && i < made.chunks.size(); ++i) {
    const ul::ChunkRecord& a = served.chunks[i];
    const ul::ChunkRecord& b = made.chunks[i];
    if (a.offset != b.offset || a.length != b.length || std::memcmp(a.sha256, b.sha256, ul::kSha256Bytes) != 0)
      return "its chunk " + std::to_string(i + 1) + " (at byte " + std::to_string(a.offset) +
             ") is not the file's";
  }
  if (served.chunks.size() != made.chunks.size())
    return "it has " + std::to_string(served.chunks.size()) + " chunks, the file " +
           std::to_string(made.chunks.size());
  return "";
}

}  // namespace

std::vector<std::string> ChunkFilePaths(const VerifyRun& run) {
  std::vector<std::string> paths;
  if (run.config.program.chunkListPath[0] != '\0') paths.push_back(run.config.program.chunkListPath);
  for (const NamedFile& f : run.index.files()) {
    if (!f.chunkIndex.empty()) paths.push_back(f.chunkIndex);
  }
  return paths;
}

bool CheckChunkList(VerifyRun& run) {
  const TreeConfig& c = run.config;
  if (c.program.chunkListPath[0] == '\0') return true;
  const std::string where = run.tree.Where(c.program.chunkListPath);
  LocalCopy copy;
  if (!FetchText(run, c.program.chunkListPath, &copy, "updaters fetch every file whole")) return true;
  std::string bytes;
  ul::ChunkList list;
  if (!ReadWholeFile(copy.path(), ul::kChunkListMaxBytes, &bytes) || !list.Parse(bytes.data(), bytes.size())) {
    run.report.Problem(where, "not a chunk list the updater reads: updaters fetch every file whole");
    return true;
  }
  RememberServed(run, c.program.chunkListPath, copy.path());
  for (std::size_t i = 0; i < list.names().size(); ++i) {
    const std::string& name = list.names()[i];
    std::string indexPath;
    if (!ul::ChunkIndexPath(c.program.chunkListPath, name.c_str(), &indexPath)) {
      run.report.Problem(where, LineRef(static_cast<int>(i) + 2) + Quoted(name) + " has no index path the " +
                                    "updater can ask for: " + kWhole);
      continue;
    }
    NamedFile& file = run.index.Add(EntryObjectPath(c.program, name.c_str()), "chunk list line " + std::to_string(i + 2));
    file.chunkIndex = indexPath;
  }
  run.report.Note(where, std::to_string(list.names().size()) + " files with a chunk index");
  return true;
}

void CheckChunkIndex(VerifyRun& run, const NamedFile& file, const std::string& localPath) {
  const std::string where = run.tree.Where(file.chunkIndex);
  LocalCopy copy;
  const FetchOutcome o = run.tree.Fetch(file.chunkIndex, &copy);
  ++run.files;
  if (o.status != kFetched) {
    run.report.Problem(where, (o.status == kMissing ? "missing (" : "unreadable (") + o.detail + "), named by " +
                                  file.namedBy.back() + ": " + kWhole);
    return;
  }
  RememberServed(run, file.chunkIndex, copy.path());
  std::string bytes;
  ul::ChunkIndex served, made;
  if (!ReadWholeFile(copy.path(), ul::kChunkIndexMaxBytes, &bytes) ||
      !ul::ParseChunkIndex(bytes.data(), bytes.size(), &served)) {
    run.report.Problem(where, std::string("not a chunk index the updater reads: ") + kWhole);
    return;
  }
  if (!IndexOfFile(localPath, &made)) {
    run.report.Problem(run.tree.Where(file.objectPath), "cannot be read for its chunks");
    return;
  }
  const std::string difference = Difference(served, made);
  if (!difference.empty())
    run.report.Problem(where, "does not match " + run.tree.Where(file.objectPath) + " as served: " + difference +
                                  ": updaters fetch chunks for nothing, then the whole file");
}

}  // namespace ulp
