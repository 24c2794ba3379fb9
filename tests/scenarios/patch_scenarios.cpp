// Changed files made from the installed copy by a binary patch: what
// travels, as the server counts it; each way a patch can go wrong, ending
// with the right file made by its chunks or fetched whole; and a run killed
// while the patch arrives.
#include <fstream>
#include <regex>
#include <string>

#include <cstring>

#include "formats/chunks/transfer_plan.h"
#include "formats/patches/patch_list.h"
#include "harness/proc.h"
#include "harness/scenario.h"
#include "tree/file_digest.h"
#include "tree/patch_maker.h"

namespace scn {
namespace {

const char kGame[] = "/Ulmet3/files/Game.exe";
const char kPatch[] = "/Ulmet3/patches/p1.zst";
const char kList[] = "/Ulmet3/patches/ULPatchList.dat";

// A new build of a program: the old one with a few pieces changed.
std::string NewBuild(const std::string& old) {
  std::string next = old;
  next.insert(100000, Noise(3000, 91));
  next.replace(2000000, 5000, Noise(5000, 92));
  next.insert(3500000, Noise(1000, 93));
  return next;
}

class Patches : public Scenario {
 protected:
  // A base the release's patch statements name: a file of the scenario's
  // own, beside its records.
  std::string Keep(const std::string& name, const std::string& bytes) {
    const std::string path = OutputDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  void ExpectFile(const std::string& relative, const std::string& content) {
    EXPECT_TRUE(ClientFileText(relative) == content) << relative << " is not the new file";
  }
  void ExpectNothingBeside(const std::string& relative) {
    for (const char* suffix : {"~patch", "~patchjournal", "~patched"})
      EXPECT_FALSE(ClientFileExists(relative + suffix)) << relative << suffix;
  }
  long long KeptFromEarlierRun() {
    const std::regex kept("Patches: Game.exe made from its installed copy: [0-9]+ bytes of its patch fetched, "
                          "([0-9]+) kept from an earlier run");
    std::smatch m;
    for (const auto& line : Trace())
      if (std::regex_search(line, m, kept)) return std::stoll(m[1]);
    ADD_FAILURE() << "no patch traced for Game.exe";
    return -1;
  }
};

TEST_F(Patches, AChangedProgramIsMadeFromTheInstalledCopy) {
  const std::string old = Noise(4 << 20, 81), next = NewBuild(old);
  Given().InstalledClient(1000)
         .ClientFile("Game.exe", old).PublishedFile("Game.exe", next)
         .Release("chunks\npatch Game.exe " + Keep("game-1000.exe", old) + "\nversion 1001 Game.exe");
  Run(LaunchArg(2));
  ExpectFile("Game.exe", next);
  ExpectTrace("Patches: Game.exe made from its installed copy");
  EXPECT_EQ(BytesSent(kGame), 0);
  EXPECT_GT(BytesSent(kPatch), 0);
  EXPECT_LT(BytesSent(kPatch), 20000) << "the patch carries more than the changed pieces";
  ExpectNothingBeside("Game.exe");
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// The updater's own new copy, made from the updater that runs: here the
// same program with bytes after its end, which Windows does not load.
TEST_F(Patches, TheUpdatersNewCopyIsMadeFromTheRunningUpdater) {
  const std::string self = TestPaths().winBin + "/Ulmet.exe";
  const std::string next = ReadText(self) + Noise(20000, 95);
  Given().InstalledClient(1000)
         .Release("file Ulmet.ex_ " + Keep("next.exe", next) + "\npatch Ulmet.ex_ " + self +
                  "\nversion 1001 Ulmet.ex_");
  Run(LaunchArg(2));
  ExpectTrace("Patches: Ulmet.ex_ made from its installed copy");
  ExpectTrace("SelfUpdate");
  EXPECT_EQ(BytesSent("/Ulmet3/files/Ulmet.ex_"), 0);
  EXPECT_TRUE(ClientFileText("Ulmet.exe") == next) << "the updater is not its new copy";
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// Each row's patch cannot make the file; the chunk transfer makes it.
struct Fault {
  const char* name;
  const char* statement;  // the patch statement after "patch Game.exe BASE"
  const char* baseKind;   // "old": the installed copy; "other": a file of its size with other bytes
  const char* kind;       // a server fault on the patch, or ""
  const char* params;
  const char* trace;
};
void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class PatchFaults : public Patches, public ::testing::WithParamInterface<Fault> {};

TEST_P(PatchFaults, EndWithTheNewFileMadeAnotherWay) {
  const Fault& f = GetParam();
  const std::string old = Noise(4 << 20, 83), next = NewBuild(old), other = Noise(4 << 20, 84);
  const std::string base = Keep("base.exe", std::string(f.baseKind) == "old" ? old : other);
  // A patch made from another base must take bytes from it that the
  // installed copy lacks (an unrelated base gives a patch that carries the
  // whole file and applies to anything): here the new build with its head
  // changed.
  const std::string from =
      std::string(f.statement).empty() ? "" : " from " + Keep("other.exe", Noise(64, 89) + next.substr(64));
  Given().InstalledClient(1000)
         .ClientFile("Game.exe", old).PublishedFile("Game.exe", next)
         .Release("chunks\npatch Game.exe " + base + from + "\nversion 1001 Game.exe");
  if (f.kind[0] != '\0') Given().Fault(kPatch, f.kind, f.params);
  Run(LaunchArg(2));
  ExpectTrace(std::string("Patches: Game.exe made another way: ") + f.trace);
  ExpectTrace("Chunks: Game.exe made");
  ExpectFile("Game.exe", next);
  ExpectNothingBeside("Game.exe");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

const Fault kFaults[] = {
    {"ForAnotherBase", "from", "old", "", "", "the patch does not apply to the installed copy"},
    {"Damaged", "", "old", "wrongbytes", "count=1 at=100", "its patch differs from the list"},
    {"Cut", "", "old", "cut", "count=1 bytes=1000", "the connection broke inside its patch"},
    {"RangesIgnored", "", "old", "noranges", "count=1", "the server did not answer a range of its patch as asked"},
    {"NamingABaseThePlayerHasNot", "", "other", "", "", "no patch from its installed copy"},
};
INSTANTIATE_TEST_SUITE_P(Server, PatchFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& i) { return std::string(i.param.name); });

// A keyed build takes no patch and no list the release did not sign, even
// ones that would make the right file.
class KeyedPatches : public Patches {
 protected:
  void Publish(const std::string& old, const std::string& next) {
    Given().InstalledClient(1000)
           .ClientFile("Game.exe", old).PublishedFile("Game.exe", next)
           .Release("chunks\npatch Game.exe " + Keep("game-1000.exe", old) + "\nversion 1001 Game.exe")
           .SignedBuild();
  }
  // A patch of old into next as the publisher makes it, and a list that
  // names it as p9.zst.
  std::string MadePatch(const std::string& old, const std::string& next, std::string* list) {
    const std::string base = Keep("base.exe", old), made = Keep("next.exe", next), out = OutputDir() + "/p9.zst";
    ulp::MadePatch info;
    ul::PatchEntry e;
    std::string md5;
    EXPECT_EQ(ulp::MakePatch(base, made, out, ulp::PatchBudget(), &info), ulp::kPatchMade);
    EXPECT_TRUE(ulp::ChainedDigest(base, &md5) && ulp::Sha256OfFile(base, e.baseSha256, &e.baseSize) &&
                ulp::Sha256OfFile(made, e.sha256, &e.size));
    e.target = "Game.exe";
    e.patch = "p9.zst";
    std::memcpy(e.baseMd5, md5.c_str(), 33);
    e.patchSize = info.size;
    std::memcpy(e.patchSha256, info.sha256, sizeof e.patchSha256);
    EXPECT_TRUE(ul::FormatPatchList({e}, list));
    return ReadText(out);
  }
};

TEST_F(KeyedPatches, AnAlteredPatchIsNotApplied) {
  const std::string old = Noise(4 << 20, 85), next = NewBuild(old);
  Publish(old, next);
  Given().Fault(kPatch, "wrongbytes", "at=5000");
  Run(LaunchArg(2));
  ExpectTrace("Patches: Game.exe made another way: its patch differs from the list");
  ExpectTrace("Chunks: Game.exe made");
  ExpectFile("Game.exe", next);
}

TEST_F(KeyedPatches, AnUnsignedListAndPatchAreNotTaken) {
  const std::string old = Noise(4 << 20, 86), next = NewBuild(old);
  Publish(old, next);
  std::string list;
  const std::string patch = MadePatch(old, next, &list);
  Given().ServerFile("/Ulmet3/patches/p9.zst", patch).ServerFile(kList, list);
  Run(LaunchArg(2));
  ExpectTrace("Patches: no patch list at /Ulmet3/patches/ULPatchList.dat");
  ExpectNotRequested("/Ulmet3/patches/p9.zst");
  ExpectTrace("Chunks: Game.exe made");
  ExpectFile("Game.exe", next);
}

TEST_F(Patches, ARunKilledWhileThePatchArrivesLeavesWhatArrivedForTheNext) {
  // Twelve MiB that the installed copy does not hold: a patch of some
  // three range requests.
  const std::string old = Noise(4 << 20, 87);
  const std::string next = old.substr(0, 1 << 20) + Noise(12 << 20, 88) + old.substr(1 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Game.exe", old).PublishedFile("Game.exe", next)
         .Release("patch Game.exe " + Keep("game-1000.exe", old) + "\nversion 1001 Game.exe")
         .KillWhenSent(6 << 20)
         .TimeLimit(120);
  Run(LaunchArg(2));
  ASSERT_TRUE(Result().killed) << "the first run ended before half of the patch was sent";
  const long long sentBefore = BytesSent(kPatch);
  EXPECT_TRUE(ClientFileExists("Game.exe~patch") && ClientFileExists("Game.exe~patchjournal"));
  EXPECT_TRUE(ClientFileText("Game.exe") == old) << "nothing partial is taken for the new file";

  RunAgain(LaunchArg(2));
  ExpectFile("Game.exe", next);
  const long long kept = KeptFromEarlierRun(), patch = ReadText(OutputDir() + "/tree" + kPatch).size();
  // Only the request under way when the run was killed is lost, less what
  // of it had arrived; nothing kept travels again.
  EXPECT_GE(kept, sentBefore - static_cast<long long>(ul::kRangeRequestMaxBytes));
  EXPECT_LE(BytesSent(kPatch), patch - kept);
  EXPECT_LE(sentBefore + BytesSent(kPatch), patch + static_cast<long long>(ul::kRangeRequestMaxBytes));
  EXPECT_EQ(BytesSent(kGame), 0);
  ExpectNothingBeside("Game.exe");
}

}  // namespace
}  // namespace scn
