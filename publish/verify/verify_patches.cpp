// verify's check of the binary patches: the list the program configuration
// announces, every patch it names against its entry (size, SHA-256, the
// frame's header), the file each one makes against the bytes served for it,
// and, in a published folder, every patch applied to its base from the
// tree's history (tree/patch_history.h) and its result checked. A patch that
// does not make its file costs the updaters that use it a fetch for nothing
// before they fetch the file another way.
#include <cstring>
#include <vector>

#include "formats/patches/patch_decoder.h"
#include "formats/trust/release_crypto.h"
#include "system/disk_names.h"
#include "system/file_io.h"
#include "system/key.h"
#include "system/mapped_file.h"
#include "tree/file_digest.h"
#include "tree/patch_history.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

const char kOtherWay[] = "updaters fetch the file another way after it";

std::string PatchObjectPath(const VerifyRun& run, const ul::PatchEntry& e) {
  std::string path;
  ul::PatchPath(run.config.program.patchListPath, e.patch, &path);
  return path;
}

// The patch applied to base (mapped), its result's size and SHA-256 against
// the entry: "" when it makes the file, else what it does instead.
std::string Rebuild(const fs::path& base, const std::string& patch, const ul::PatchEntry& e) {
  MappedFile b;
  OwnedFile in = OpenFile(patch, "rb");
  if (!b.Open(base) || !in) return "its base or the patch cannot be read";
  std::vector<unsigned char> out(static_cast<std::size_t>(e.size));
  ul::PatchDecoder d;
  if (!d.Start(b.data(), b.size(), out.data(), out.size())) return "no decoder";
  std::vector<char> piece(1 << 20);
  std::size_t n = 0;
  while ((n = std::fread(piece.data(), 1, piece.size(), in.get())) > 0) {
    if (!d.Feed(piece.data(), n)) return "applied to its base, it fails after " + std::to_string(d.written()) + " bytes";
  }
  if (!d.Finished()) return "applied to its base, it ends after " + std::to_string(d.written()) + " bytes";
  ul::Sha256 sha;
  uint8_t digest[ul::kSha256Bytes];
  if (!sha.Update(out.data(), out.size()) || !sha.Finish(digest)) return "no SHA-256";
  if (std::memcmp(digest, e.sha256, ul::kSha256Bytes) != 0) return "applied to its base, it makes other bytes";
  return "";
}

// What the list says the patch makes against the file served for its target.
void CheckTarget(VerifyRun& run, const ul::PatchEntry& e, const std::string& where) {
  const std::string target = EntryObjectPath(run.config.program, e.target.c_str());
  auto served = run.served.find(target);
  if (served == run.served.end()) {
    LocalCopy copy;
    if (run.tree.Fetch(target, &copy).status == kFetched) RememberServed(run, target, copy.path());
    served = run.served.find(target);
  }
  if (served == run.served.end()) {
    run.report.Problem(where, "makes " + run.tree.Where(target) + ", which is not served");
  } else if (served->second.size != e.size || std::memcmp(served->second.sha256, e.sha256, ul::kSha256Bytes) != 0) {
    run.report.Problem(where, "makes other bytes than " + run.tree.Where(target) + " as served: " + kOtherWay);
  }
}

// One patch as served, against its entry, and applied where its base is at
// hand.
void CheckPatch(VerifyRun& run, const ul::PatchEntry& e, const fs::path& history) {
  const std::string path = PatchObjectPath(run, e), where = run.tree.Where(path);
  LocalCopy copy;
  const FetchOutcome o = run.tree.Fetch(path, &copy, e.patchSize + kRecordMargin);
  ++run.files;
  if (o.status != kFetched) {
    run.report.Problem(where, (o.status == kMissing ? "missing (" : "unreadable (") + o.detail + "): " + kOtherWay);
    return;
  }
  RememberServed(run, path, copy.path());
  const ul::ReleaseFile& arrived = run.served[path];
  std::string head;
  OwnedFile f = OpenFile(copy.path(), "rb");
  head.resize(ul::kPatchHeadBytes);
  head.resize(f ? std::fread(&head[0], 1, head.size(), f.get()) : 0);
  if (arrived.size != e.patchSize || std::memcmp(arrived.sha256, e.patchSha256, ul::kSha256Bytes) != 0) {
    run.report.Problem(where, "differs from its entry in the patch list (size or SHA-256): " + std::string(kOtherWay));
    return;
  }
  if (!ul::PatchFrameFits(head.data(), head.size(), e.size)) {
    run.report.Problem(where, "is not a patch the updater applies to make " + std::to_string(e.size) + " bytes: " + kOtherWay);
    return;
  }
  CheckTarget(run, e, where);
  if (history.empty()) return;
  const fs::path base = history / ul::Hex(e.baseSha256, ul::kSha256Bytes);
  std::error_code ec;
  if (!fs::is_regular_file(base, ec)) {
    run.report.Warning(where, "its base is not in the tree's history: not applied");
    return;
  }
  const std::string why = Rebuild(base, copy.path(), e);
  if (!why.empty()) run.report.Problem(where, "does not rebuild its target: " + why + ": " + kOtherWay);
}

}  // namespace

std::vector<std::string> PatchFilePaths(const VerifyRun& run) {
  std::vector<std::string> paths;
  if (run.config.program.patchListPath[0] == '\0') return paths;
  paths.push_back(run.config.program.patchListPath);
  for (const ul::PatchEntry& e : run.patchEntries) paths.push_back(PatchObjectPath(run, e));
  return paths;
}

bool CheckPatchList(VerifyRun& run) {
  const char* listPath = run.config.program.patchListPath;
  if (listPath[0] == '\0') return true;
  const std::string where = run.tree.Where(listPath);
  LocalCopy copy;
  if (!FetchText(run, listPath, &copy, "updaters make no file from a patch")) return true;
  std::string bytes;
  ul::PatchList list;
  if (!ReadWholeFile(copy.path(), ul::kPatchListMaxBytes, &bytes) || !list.Parse(bytes.data(), bytes.size())) {
    run.report.Problem(where, "not a patch list the updater reads: updaters make no file from a patch");
    return true;
  }
  RememberServed(run, listPath, copy.path());
  for (const ul::PatchEntry& e : list.entries()) {
    std::string path;
    if (ul::PatchPath(listPath, e.patch, &path)) {
      run.patchEntries.push_back(e);
    } else {
      run.report.Problem(where, Quoted(e.patch) + " has no path the updater can ask for");
    }
  }
  run.report.Note(where, std::to_string(list.entries().size()) + " patches");
  return true;
}

bool CheckPatches(VerifyRun& run) {
  if (run.patchEntries.empty()) return true;
  // The bases lie in the history of a published folder; a served tree
  // does not serve them.
  fs::path history;
  if (!run.tree.served()) history = fs::path(run.tree.Name()) / kHistoryFolder;
  if (history.empty())
    run.report.Note(run.tree.Where(run.config.program.patchListPath),
                    "the bases are not served: the patches are checked against their entries, not applied");
  for (const ul::PatchEntry& e : run.patchEntries) CheckPatch(run, e, history);
  return true;
}

}  // namespace ulp
