// Every file the lists name: there at the address the updater requests, with
// the digest the hash list says, and archives that unpack.
#include <chrono>
#include <cstring>

#include "formats/trust/file_hasher.h"
#include "verify/verify_checks.h"

namespace ulp {

namespace {

const char kNoInstaller[] = "a client with a gap in its installation cannot be installed";

// A line on the progress stream at most once a second.
class Progress {
 public:
  Progress(std::FILE* out, std::size_t total) : out_(out), total_(total) {}
  void Done(std::size_t done) {
    if (out_ == nullptr) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::seconds(1)) return;
    last_ = now;
    std::fprintf(out_, "verify: %zu of %zu files checked\n", done, total_);
    std::fflush(out_);
  }

 private:
  std::FILE* out_;
  std::size_t total_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

std::string NamedBy(const NamedFile& file) {
  const std::size_t kShown = 3;
  std::string text;
  for (std::size_t i = 0; i < file.namedBy.size() && i < kShown; ++i)
    text += (i == 0 ? "" : ", ") + file.namedBy[i];
  if (file.namedBy.size() > kShown)
    text += " and " + std::to_string(file.namedBy.size() - kShown) + " more";
  return text;
}

// A name with '!' that the tree has only with blanks: the list wants '!',
// which the updater turns into a blank only on the client's side.
std::string BlankFormHint(VerifyRun& run, const std::string& objectPath) {
  std::string blank = objectPath;
  for (char& c : blank) {
    if (c == '!') c = ' ';
  }
  if (blank == objectPath) return "";
  LocalCopy copy;
  if (run.tree.Fetch(blank, &copy).status != kFetched) return "";
  return "; the tree has it as " + run.tree.Where(blank) +
         ", but the updater requests blanks as '!'";
}

void ReportAbsent(VerifyRun& run, const NamedFile& file, const FetchOutcome& o,
                  const std::string& where) {
  const std::string what = (o.status == kMissing ? "missing (" : "unreadable (") + o.detail + ")";
  if (!file.required) {
    run.report.Warning(where, what + ", named by " + NamedBy(file) + ": " + kNoInstaller);
    return;
  }
  run.report.Problem(where, what + ", named by " + NamedBy(file) +
                                (o.status == kMissing ? BlankFormHint(run, file.objectPath) : ""));
}

void NoPause(void*) {}

void CheckDigests(VerifyRun& run, const NamedFile& file, const std::string& path,
                  const std::string& where) {
  if (file.digests.empty()) return;
  FileHasher hasher;
  hasher.SetChunkHook(NoPause, nullptr);  // no pacing: this is no client's machine
  char digest[FileHasher::kDigestChars + 1] = {0};
  if (!hasher.ComputeFileDigest(path.c_str(), digest)) {
    run.report.Problem(where, "cannot be read for its digest");
    return;
  }
  for (const NamedFile::Digest& d : file.digests) {
    if (std::strncmp(digest, d.hex.c_str(), FileHasher::kDigestChars) == 0) continue;
    run.report.Problem(where, std::string("its digest is ") + (digest[0] ? digest : "none (empty)") +
                                  ", " + d.origin + " says " + Quoted(d.hex) +
                                  ": the updater fetches it again on every run, and it never "
                                  "matches");
  }
}

}  // namespace

// The full installer: needed by a list line that asks for it, and by any
// client whose installation has a gap.
bool CheckInstaller(VerifyRun& run) {
  TreeConfig& c = run.config;
  if (c.program.installerPath[0] == '\0') {
    if (run.fullInstallLine != 0) {
      run.report.Problem(run.tree.Where(c.program.updateListPath),
                         LineRef(run.fullInstallLine) +
                             "asks for the full installer, but the program configuration has no "
                             "[INSTALLVERSION]");
    } else {
      run.report.Warning(run.tree.Where(c.directory.programConfigPath),
                         std::string("no [INSTALLVERSION]: ") + kNoInstaller);
    }
    return true;
  }
  if (run.fullInstallLine != 0) {
    run.index.Add(c.program.installerPath, "update list line " + std::to_string(run.fullInstallLine) +
                                       " (the full installer)");
  } else {
    NamedFile& file = run.index.Add(c.program.installerPath, "[INSTALLVERSION]");
    if (file.namedBy.size() == 1) file.required = false;
  }
  return true;
}

bool CheckNamedFiles(VerifyRun& run) {
  const std::vector<NamedFile>& files = run.index.files();
  Progress progress(run.progress, files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const NamedFile& file = files[i];
    progress.Done(i);
    const std::string where = run.tree.Where(file.objectPath);
    LocalCopy copy;
    const FetchOutcome o = run.tree.Fetch(file.objectPath, &copy);
    ++run.files;
    if (o.status == kUnreachable) {
      run.report.Problem(run.tree.Name(), "the server stopped answering (" + o.detail +
                                              "): the check ends at " + where);
      return false;
    }
    if (o.status != kFetched) {
      ReportAbsent(run, file, o, where);
      continue;
    }
    CheckDigests(run, file, copy.path(), where);
    if (!file.chunkIndex.empty()) CheckChunkIndex(run, file, copy.path());
    RememberServed(run, file.objectPath, copy.path());
    if (!file.unpackFolder.empty()) CheckArchive(run.report, where, copy.path(), file.unpackFolder);
  }
  return true;
}

}  // namespace ulp
