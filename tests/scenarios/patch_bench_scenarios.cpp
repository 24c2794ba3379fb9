// Benchmark (disabled; scripts/bench.sh runs it for each pair of builds and
// each way): a new build of a real program's executable reaching an
// installed client by patch, by its changed chunks, or whole. The script
// lays out the installed client and the tree the operators' tool published
// (init --patches, then release), and names them in the environment:
//   ULMET_BENCH_CLIENT  the installed client folder, with the old build
//   ULMET_BENCH_TREE    the tree served
//   ULMET_BENCH_NAME    the executable's name in the client folder
//   ULMET_BENCH_NEW     the new build, which the client must end with
// Figures: bytes the server sent for the file itself, for the patch list
// and the patches, for the chunk list and the file's index; the run's
// seconds; the updater's peak resident memory and its peak anonymous memory
// (what it took for itself, without the files it mapped); and the time the
// patch took to apply, from the trace.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

class PatchBench : public Scenario {
 protected:
  // Bytes sent for every path below folder.
  long long SentBelow(const std::string& folder) const {
    std::set<std::string> paths;
    for (const auto& r : Requests()) {
      auto p = r.find("path");
      if (p != r.end() && p->second.rfind(folder, 0) == 0) paths.insert(p->second);
    }
    long long sent = 0;
    for (const auto& p : paths) sent += BytesSent(p);
    return sent;
  }
  // The apply's milliseconds as the trace gives them; -1 without a patch.
  double ApplyMs() const {
    const std::regex made("Patches: .* made from its installed copy: .* bytes written in ([0-9]+) ms");
    std::smatch m;
    for (const auto& line : Trace())
      if (std::regex_search(line, m, made)) return std::stod(m[1]);
    return -1;
  }
};

TEST_F(PatchBench, DISABLED_NewBuild) {
  const std::string client = Env("ULMET_BENCH_CLIENT"), tree = Env("ULMET_BENCH_TREE"), name = Env("ULMET_BENCH_NAME"),
                    next = Env("ULMET_BENCH_NEW");
  ASSERT_FALSE(client.empty() || tree.empty() || name.empty() || next.empty()) << "run by scripts/bench.sh";
  Given().InstalledFolderLinked(client, 1000).ServedTree(tree).TimeLimit(1800);
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  EXPECT_TRUE(SameFile(UnixPath(ClientFolder() + name), next)) << name << " is not the new build";
  Figure("file_sent_bytes", static_cast<double>(BytesSent("/Ulmet3/files/" + name)));
  Figure("patch_sent_bytes", static_cast<double>(SentBelow("/Ulmet3/patches/")));
  Figure("chunk_sent_bytes", static_cast<double>(SentBelow("/Ulmet3/chunks/")));
  Figure("apply_ms", ApplyMs());
  Figure("run_s", Result().seconds);
  Figure("peak_kb", Result().peakKb);
  Figure("peak_anon_kb", Result().peakAnonKb);
  Figure("made_by_patch", ApplyMs() >= 0 ? 1 : 0);
}

}  // namespace
}  // namespace scn
