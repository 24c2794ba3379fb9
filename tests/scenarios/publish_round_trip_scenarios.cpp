// Round trips of the operators' tool: a client folder published with
// "ulmet-publish init", the next versions with "release", the tree served by
// nginx through the shipped server block, and the real Ulmet.exe bringing an
// older client to exactly the newest release. The same releases made by the
// tool's Windows build under Wine must give the same trees.
#include <filesystem>
#include <map>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace scn {
namespace {

namespace fs = std::filesystem;

// What each version of the client folder holds besides UlmetMain.exe and
// Ulmet.exe. v2 changes, adds and deletes files, deletes a folder, changes
// the archived skins and has a name with a blank; v3 goes on from there.
const std::map<std::string, std::string> kVersions[] = {
    {{"a.dll", "a v1"}, {"b.txt", "goes in v2"}, {"read me.txt", "blank in the name"},
     {"Old/x.txt", "whole folder goes in v2"}, {"Old/Deep/y.txt", "with it"},
     {"Data/config.ini", "config v1"}, {"Data/Skins/s1.bmp", "skin one"}, {"Data/Skins/s2.bmp", "skin two v1"}},
    {{"a.dll", "a v2"}, {"c.txt", "new in v2"}, {"read me.txt", "blank in the name"},
     {"new file.txt", "new, with a blank"}, {"Data/config.ini", "config v1"},
     {"Data/Skins/s1.bmp", "skin one"}, {"Data/Skins/s2.bmp", "skin two v2"}},
    {{"a.dll", "a v3"}, {"read me.txt", "blank in the name, v3"}, {"new file.txt", "new, with a blank"},
     {"Data/config.ini", "config v3"}, {"Data/Skins/s1.bmp", "skin one"}, {"Data/Skins/s2.bmp", "skin two v2"},
     {"Data/Skins/s3.bmp", "skin three"}, {"New/Deep/z.txt", "new folder in v3"}},
};
constexpr int kFirstVersion = 1000;

struct Releases {
  std::string root;
  std::string client[3];  // the client folder of each version
  std::string tree[3];    // the served tree after each version (native tool)
  std::string winTree;    // after v3, made by the Windows build
  std::string error;      // why the releases could not be made
};

std::string Tool(const std::vector<std::string>& args, bool windows, const std::string& log) {
  const auto& P = TestPaths();
  std::vector<std::string> argv;
  if (windows) {
    argv = {"wine", P.winBin + "/ulmet-publish.exe"};
  } else {
    argv = {P.nativeBin + "/ulmet-publish"};
  }
  for (const auto& a : args) argv.push_back(windows && a.rfind("/", 0) == 0 ? WindowsPathOf(a) : a);
  ProcResult r = RunProcess({argv, {}, "", log + ".out", log + ".err"}, 300);
  if (r.exitCode == 0) return "";
  std::string line;
  for (const auto& a : argv) line += a + " ";
  return line + "failed (" + std::to_string(r.exitCode) + "): " + ReadText(log + ".err");
}

void WriteClient(const std::string& folder, int index) {
  const auto& P = TestPaths();
  fs::create_directories(folder);
  fs::copy_file(P.winBin + "/UlmetMain.exe", folder + "/UlmetMain.exe");
  // Each version brings its own updater: the real one with the version
  // appended, which Windows ignores when it loads the program.
  fs::copy_file(P.winBin + "/Ulmet.exe", folder + "/Ulmet.exe");
  std::string exe = ReadText(folder + "/Ulmet.exe");
  if (index > 0) WriteText(folder + "/Ulmet.exe", exe + "release " + std::to_string(index + 1));
  for (const auto& f : kVersions[index]) {
    fs::path p = folder + "/" + f.first;
    fs::create_directories(p.parent_path());
    WriteText(p.string(), f.second);
  }
}

// init v1, release v2 (Data/Skins as an archive), release v3, keeping a copy
// of the tree after each; with windows, the same through the Windows build.
std::string Publish(const Releases& r, const std::string& tree, bool windows, std::string copies[3]) {
  const auto& P = TestPaths();
  std::string log = tree + (windows ? "-win" : "-native");
  std::string e = Tool({"init", "--client", r.client[0], "--out", tree, "--host", P.configHost, "--version",
                        std::to_string(kFirstVersion)},
                       windows, log + "-init");
  for (int v = 1; v < 3 && e.empty(); ++v) {
    if (copies) fs::copy(tree, copies[v - 1], fs::copy_options::recursive);
    std::vector<std::string> args = {"release", "--tree", tree, "--client", r.client[v]};
    if (v == 1) args.insert(args.end(), {"--archive", "Data/Skins"});
    e = Tool(args, windows, log + "-release" + std::to_string(v + 1));
  }
  if (e.empty() && copies) fs::copy(tree, copies[2], fs::copy_options::recursive);
  return e;
}

const Releases& MakeReleases() {
  static Releases r;
  if (!r.root.empty()) return r;
  r.root = TestPaths().outRoot + "/PublishRoundTrip";
  fs::remove_all(r.root);
  for (int v = 0; v < 3; ++v) {
    r.client[v] = r.root + "/client-v" + std::to_string(v + 1);
    r.tree[v] = r.root + "/tree-v" + std::to_string(v + 1);
    WriteClient(r.client[v], v);
  }
  r.error = Publish(r, r.root + "/tree", false, r.tree);
  if (r.error.empty()) {
    r.winTree = r.root + "/win-tree";
    r.error = Publish(r, r.winTree, true, nullptr);
  }
  return r;
}

struct Trip {
  const char* name;
  int installed;  // index of the installed client folder
  int served;     // index of the served tree
  bool windowsTree;
};

void PrintTo(const Trip& t, std::ostream* os) { *os << t.name; }

class PublishRoundTrip : public Scenario, public ::testing::WithParamInterface<Trip> {};

TEST_P(PublishRoundTrip, OlderClientBecomesTheServedReleaseByteForByte) {
  const Trip& t = GetParam();
  const Releases& r = MakeReleases();
  ASSERT_EQ(r.error, "");
  std::string tree = t.windowsTree ? r.winTree : r.tree[t.served];
  Given().ServedByNginx().ServedTree(tree).InstalledFolder(r.client[t.installed], kFirstVersion + t.installed);
  Run(LaunchArg(2));
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(kFirstVersion + t.served));
  ExpectClientFolderEquals(r.client[t.served]);
}

INSTANTIATE_TEST_SUITE_P(Releases, PublishRoundTrip,
                         ::testing::Values(Trip{"V1ToV2", 0, 1, false}, Trip{"V2ToV3", 1, 2, false},
                                           Trip{"V1ToV3", 0, 2, false}, Trip{"V1ToV3MadeOnWindows", 0, 2, true}),
                         [](const ::testing::TestParamInfo<Trip>& i) { return std::string(i.param.name); });

// The Windows build writes the very same tree, a release keeps the tree it
// replaced beside it for a rollback, and verify passes what was published. (A scenario for the Wine environment
// that the Windows build runs in.)
using PublishTrees = Scenario;

TEST_F(PublishTrees, WindowsBuildWritesTheSameTreeAndTheReleaseBeforeIsKept) {
  const Releases& r = MakeReleases();
  ASSERT_EQ(r.error, "");
  ProcResult same = RunProcess({{"diff", "-r", r.tree[2], r.winTree}, {}, "", r.root + "/diff.out", "/dev/null"}, 60);
  EXPECT_EQ(same.exitCode, 0) << ReadText(r.root + "/diff.out");
  ProcResult kept =
      RunProcess({{"diff", "-r", r.tree[1], r.root + "/tree.previous"}, {}, "", r.root + "/diff-prev.out", "/dev/null"},
                 60);
  EXPECT_EQ(kept.exitCode, 0) << ReadText(r.root + "/diff-prev.out");
  // Both builds of verify find nothing wrong with what they published.
  for (bool windows : {false, true}) EXPECT_EQ(Tool({"verify", r.winTree}, windows, r.root + "/verify"), "");
}

}  // namespace
}  // namespace scn
