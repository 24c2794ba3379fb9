// ulmet-publish verify against broken trees: a good tree, published by the
// test bed's publisher, gets exactly one fault per row, and the check must
// report exactly that problem, once, naming its file. Each row runs on the
// folder and, where marked, served by the test bed's server.
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "formats/chunks/chunk_index.h"
#include "harness/proc.h"
#include "publisher.h"

namespace {

namespace fs = std::filesystem;
const std::string kBin = ULP_NATIVE_BIN;

struct Verdict {
  int exitCode = -1;
  std::vector<std::string> problems;  // without notes, warnings and the summary
  std::string output;
};

Verdict Check(const std::vector<std::string>& args, const std::string& outDir) {
  scn::ProcSpec p;
  p.argv = {kBin + "/ulmet-publish", "verify"};
  p.argv.insert(p.argv.end(), args.begin(), args.end());
  p.stdoutFile = outDir + "/verify.out";
  p.stderrFile = outDir + "/verify.err";
  Verdict v;
  v.exitCode = scn::RunProcess(p, 60).exitCode;
  v.output = scn::ReadText(p.stdoutFile);
  std::istringstream lines(v.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(": note: ") == std::string::npos && line.find(": warning: ") == std::string::npos)
      v.problems.push_back(line);
  }
  if (!v.problems.empty()) v.problems.pop_back();  // the summary
  return v;
}

// The test bed's server on a free port, serving root while it lives.
class Server {
 public:
  Server(const std::string& root, const std::string& dir, const std::string& faults) {
    fs::remove(dir + "/ready");
    scn::WriteText(dir + "/faults.txt", faults);
    scn::ProcSpec p;
    p.argv = {kBin + "/testbed_server", "--root", root, "--port", "0", "--ready-file",
              dir + "/ready", "--faults", dir + "/faults.txt", "--log", dir + "/requests.jsonl"};
    pid_ = scn::StartProcess(p);
    for (int i = 0; i < 500 && port_.empty(); ++i) {
      std::istringstream(scn::ReadText(dir + "/ready")) >> address_ >> port_;
      if (port_.empty()) scn::SleepSeconds(0.01);
    }
  }
  ~Server() { scn::StopProcess(pid_); }
  std::string Url() const { return "http://" + address_ + ":" + port_ + "/"; }

 private:
  pid_t pid_;
  std::string address_, port_;
};

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(scn::WriteText(file.string(), text));
}

// Replaces the first `from` in the tree's file with `to`.
void Edit(const fs::path& file, const std::string& from, const std::string& to) {
  std::string text = scn::ReadText(file.string());
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not in " << file;
  Write(file, text.replace(at, from.size(), to));
}

// Replaces the line that begins with `start` by `line`.
void EditLine(const fs::path& file, const std::string& start, const std::string& line) {
  const std::string text = scn::ReadText(file.string());
  const std::size_t at = text.find("\n" + start) + 1;
  ASSERT_NE(at, 0u) << start << " begins no line of " << file;
  Edit(file, text.substr(at, text.find('\n', at) - at), line);
}

void Append(const fs::path& file, const std::string& text) {
  Write(file, scn::ReadText(file.string()) + text);
}

void ZipWithMember(const fs::path& file, const char* member, const std::string& data = "x",
                   int method = Z_DEFLATED) {
  zipFile zf = zipOpen(file.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zf, nullptr);
  zip_fileinfo info = {};
  EXPECT_EQ(zipOpenNewFileInZip(zf, member, &info, nullptr, 0, nullptr, 0, nullptr, method,
                                Z_DEFAULT_COMPRESSION),
            ZIP_OK);
  EXPECT_EQ(zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
  zipCloseFileInZip(zf);
  zipClose(zf, nullptr);
}

// The hash list's digest on the line that begins with start, its last
// hexadecimal digit changed.
void LastDigitChanged(const fs::path& hashList, const std::string& start) {
  std::string text = scn::ReadText(hashList.string());
  const std::size_t line = text.find("\n" + start) + 1;
  ASSERT_NE(line, 0u) << start << " begins no line of " << hashList;
  const std::size_t number = text.find(':', line);
  const std::size_t last = text.find(':', number + 1) + 32;
  ASSERT_EQ(text[last + 1], ':') << text.substr(line, 80);
  text[last] = text[last] == '0' ? '1' : '0';
  Write(hashList, text);
}

// An update list line of exactly length characters, of names the tree has.
std::string ListLine(std::size_t length) {
  std::string line = "1004";
  while (line.size() + 6 + 5 <= length) line += " a.dll";
  return line + " -" + std::string(length - line.size() - 2, 'x') + "\n";
}

// The program configuration announces a chunk list with list's text, and
// the index of Data/Skins/x.bmp is made of the bytes indexed (none: no index).
void PlantChunks(const fs::path& tree, const std::string& list, const std::string& indexed) {
  Append(tree / "UlLaunch/ULProgram.cfg", "[CHUNKLIST]\n/Ulmet3/chunks/list.dat\n");
  Write(tree / "Ulmet3/chunks/list.dat", list);
  ul::ChunkIndexBuilder builder;
  ul::ChunkIndex index;
  std::string bytes;
  ASSERT_TRUE(builder.Add(indexed.data(), indexed.size()) && builder.Finish(&index) &&
              ul::FormatChunkIndex(index, &bytes));
  if (!indexed.empty()) Write(tree / "Ulmet3/chunks/Data/Skins/x.bmp.chunks", bytes);
}
const char kChunkList[] = "ulmet-chunks 1\nData/Skins/x.bmp\n";

const char kList[] = "Ulmet3/UpdateList.dat";
const char kHash[] = "Ulmet3/ULHashFile.dat";
const char kProgram[] = "UlLaunch/ULProgram.cfg";

enum { kFolder = 1, kServed = 2, kBoth = 3 };

struct Fault {
  const char* name;
  void (*plant)(const fs::path& tree);
  const char* file;    // the tree file the one problem names
  const char* reason;  // part of its reason
  int ways = kFolder;  // on disk, served, or both
  const char* serverFaults = "";
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

const Fault kFaults[] = {
    {"MissingFile", [](const fs::path& t) { fs::remove(t / "Ulmet3/files/sub/b.dat"); },
     "Ulmet3/files/sub/b.dat", "missing", kBoth},
    {"DigestMismatch", [](const fs::path& t) { Write(t / "Ulmet3/files/a.dll", "other"); },
     "Ulmet3/files/a.dll", "says", kBoth},
    {"DigestDiffersInLastDigit", [](const fs::path& t) { LastDigitChanged(t / kHash, "a.dll:"); },
     "Ulmet3/files/a.dll", "says", kBoth},
    {"LongListLine", [](const fs::path& t) { Append(t / kList, ListLine(1024)); }, kList,
     "line 5: 1024 characters, longer than the 1023"},
    {"NameOverTheCut", [](const fs::path& t) { Append(t / kList, "1004 " + std::string(261, 'n') + "\n"); },
     kList, "has 261 characters"},
    {"BlankClimbsOut", [](const fs::path& t) { Append(t / kList, "1004 ..!\\x.dll\n"); }, kList,
     "line 5: entry \"..!\\x.dll\": the path gate refuses \".. \\x.dll\""},
    {"DeleteBlankClimbsOut", [](const fs::path& t) { Append(t / kList, "1004 -..!/evil.dll\n"); }, kList,
     "line 5: entry \"-..!/evil.dll\": the path gate refuses \".. /evil.dll\""},
    {"DeviceName", [](const fs::path& t) { Append(t / kList, "1004 -sub/COM1.txt\n"); }, kList,
     "entry \"-sub/COM1.txt\": the path gate refuses"},
    {"ReaderRefusal", [](const fs::path& t) { Append(t / kList, "1004 =C:\\x\n"); }, kList,
     "entry \"=C:\\x\": the updater passes it over"},
    {"BrokenArchive",
     [](const fs::path& t) { fs::resize_file(t / "Ulmet3/files/Data/Skins.zip", 60); },
     "Ulmet3/files/Data/Skins.zip", "not an archive that opens", kBoth},
    {"ArchiveMemberClimbsOut",
     [](const fs::path& t) { ZipWithMember(t / "Ulmet3/files/Data/Skins.zip", "Skins/../../x.dll"); },
     "Ulmet3/files/Data/Skins.zip", "member 1 \"Skins\\..\\..\\x.dll\""},
    {"ArchiveMemberDamaged",
     [](const fs::path& t) {
       ZipWithMember(t / "Ulmet3/files/Data/Skins.zip", "Skins/y.txt", "original", 0);
       Edit(t / "Ulmet3/files/Data/Skins.zip", "original", "0riginal");
     },
     "Ulmet3/files/Data/Skins.zip", "member 1 \"Skins\\y.txt\": it is damaged"},
    {"No5001Record", [](const fs::path& t) { Edit(t / "UlLaunch/global_Ulmet.cfg", "5001", "5002"); },
     "UlLaunch/global_Ulmet.cfg", "no record 5001"},
    {"WrongInstance", [](const fs::path& t) { Edit(t / kProgram, "5001", "5002"); }, kProgram,
     "line 2: \"[INSTANCENUMBER]\" \"5002\" must be 5001"},
    {"CheckupOutOfRange", [](const fs::path& t) { Edit(t / kProgram, "[CHECKUP]\n0", "[CHECKUP]\n3"); },
     kProgram, "\"[CHECKUP]\" \"3\" must be 0, 1 or 2"},
    {"NoUpdateList",
     [](const fs::path& t) { Edit(t / kProgram, "[UPDATELIST]\n/Ulmet3/UpdateList.dat\n", ""); },
     kProgram, "[UPDATELIST] is missing"},
    {"HashLineWithEmptyField", [](const fs::path& t) { EditLine(t / kHash, "a.dll:", "a.dll:2::.\\"); },
     kHash, "line 3: \"a.dll:2::.\\\" is no name:number:digest:folder line", kBoth},
    {"HashEntryLeavesFolder", [](const fs::path& t) { Append(t / kHash, "x.dll:9:0123:..\\\n"); },
     kHash, "line 7: \"x.dll:9:0123:..\\\": the updater passes it over"},
    {"NoHashEntry", [](const fs::path& t) { Write(t / kHash, "; nothing\n"); }, kHash,
     "no entry the updater accepts"},
    {"NewCopyBeforeSameVersion", [](const fs::path& t) { Append(t / kList, "1003 a.dll\n"); }, kList,
     "line 4: the updater's new copy is not on the last line of version 1003"},
    {"VersionGoesDown", [](const fs::path& t) { Append(t / kList, "1002 a.dll\n"); }, kList,
     "line 5: version 1002 after version 1003"},
    {"FullInstallWithoutInstaller",
     [](const fs::path& t) {
       Append(t / kList, "1004 Ulmet_install.exe\n");
       Edit(t / kProgram, "[INSTALLVERSION]\n/Ulmet3/Ulmet_install.exe\n", "");
     },
     kList, "line 5: asks for the full installer"},
    {"PublishedWithBlank",
     [](const fs::path& t) { fs::rename(t / "Ulmet3/files/my!file.txt", t / "Ulmet3/files/my file.txt"); },
     "Ulmet3/files/my!file.txt", "requests blanks as '!'", kBoth},
    {"ServedBodyCut", [](const fs::path&) {}, "Ulmet3/files/Data/Skins/x.bmp", "broke off", kServed,
     "/Ulmet3/files/Data/Skins/x.bmp cut bytes=1000\n"},
    {"ChunkIndexOfOtherBytes", [](const fs::path& t) { PlantChunks(t, kChunkList, std::string(70000, 'y')); },
     "Ulmet3/chunks/Data/Skins/x.bmp.chunks", "does not match", kBoth},
    {"ChunkIndexMissing", [](const fs::path& t) { PlantChunks(t, kChunkList, ""); },
     "Ulmet3/chunks/Data/Skins/x.bmp.chunks", "missing", kBoth},
    {"ChunkListUnreadable",
     [](const fs::path& t) { PlantChunks(t, "ulmet-chunks 1\nData/Skins/x.bmp\n../x\n", std::string(70000, 'x')); },
     "Ulmet3/chunks/list.dat", "not a chunk list", kBoth},
};

// The good tree, published once per suite below base: every kind of entry
// the checks know.
void PublishGoodTree(const fs::path& base) {
  const fs::path client = base / "client";
  Write(client / "a.dll", "a");
  Write(client / "my file.txt", "blank");
  Write(client / "Data/Skins/x.bmp", std::string(70000, 'x'));  // three digest chunks
  Write(client / "sub/b.dat", "b");
  Write(client / "\xED\x95\x9C/\xEA\xB8\x80.txt", "hangul");
  Write(client / "Ulmet.exe", "new copy");
  Write(base / "setup.exe", "installer");
  tb::Release release;
  std::string error;
  ASSERT_TRUE(tb::ParseRelease("installer " + (base / "setup.exe").string() +
                                   "\narchive Data/Skins.zip Skins\nfile Ulmet.ex_ Ulmet.exe\n"
                                   "version 1001 a.dll \"my file.txt\" \xED\x95\x9C/\xEA\xB8\x80.txt\n"
                                   "version 1002 Data/Skins.zip sub/b.dat -old.dll =Old\n"
                                   "version 1003 Ulmet3_install.exe Ulmet.ex_\n",
                               &release, &error))
      << error;
  tb::PublishOptions options;
  options.clientDir = client.string();
  options.outDir = (base / "tree").string();
  tb::PublishResult result;
  ASSERT_TRUE(tb::Publish(release, options, &result)) << result.error;
}

fs::path GoodTreeBase() { return fs::temp_directory_path() / ("ulp-verify-" + std::to_string(getpid())); }

class Verify : public ::testing::TestWithParam<Fault> {
 public:
  static void SetUpTestSuite() {
    base_ = GoodTreeBase();
    PublishGoodTree(base_);
  }
  static void TearDownTestSuite() { fs::remove_all(base_); }

 protected:
  // A fresh copy of the good tree with the row's fault planted.
  fs::path Planted(const Fault& f) {
    const fs::path dir = base_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(base_ / "tree", dir / "tree", fs::copy_options::recursive);
    if (f.plant != nullptr) f.plant(dir / "tree");
    return dir;
  }
  static void ExpectOneProblem(const Verdict& v, const Fault& f, const std::string& prefix) {
    ASSERT_EQ(v.problems.size(), 1u) << v.output;
    EXPECT_EQ(v.problems[0].rfind(prefix + f.file + ": ", 0), 0u) << v.output;
    EXPECT_NE(v.problems[0].find(f.reason), std::string::npos) << v.output;
    EXPECT_NE(v.output.find("\n1 problem\n"), std::string::npos) << v.output;
    EXPECT_EQ(v.exitCode, 1);
  }
  static fs::path base_;
};
fs::path Verify::base_;

TEST_F(Verify, GoodTreeHasNoProblemOnDiskOrServed) {
  const fs::path dir = Planted({"Good", nullptr, "", ""});
  Server server((dir / "tree").string(), dir.string(), "");
  for (const std::string& where : {(dir / "tree").string(), server.Url()}) {
    Verdict v = Check({where}, dir.string());
    EXPECT_TRUE(v.problems.empty()) << v.output;
    EXPECT_NE(v.output.find("no problems: 9 lines, 12 files checked\n"), std::string::npos)
        << v.output;
    EXPECT_EQ(v.exitCode, 0);
  }
}

TEST_P(Verify, OneFaultOneProblem) {
  const Fault& f = GetParam();
  const fs::path dir = Planted(f);
  if (f.ways & kFolder)
    ExpectOneProblem(Check({(dir / "tree").string()}, dir.string()), f, (dir / "tree/").string());
  if (f.ways & kServed) {
    Server server((dir / "tree").string(), dir.string(), f.serverFaults);
    ExpectOneProblem(Check({server.Url()}, dir.string()), f, "/");
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, Verify, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& i) { return i.param.name; });

// Worth a warning, no problem: exit 0. An empty warning: nothing at all.
const Fault kWarnings[] = {
    {"LongestLineReadWhole", [](const fs::path& t) { Append(t / kList, ListLine(1023)); }, "", ""},
    {"Maintenance", [](const fs::path& t) { Edit(t / kProgram, "[CHECKUP]\n0", "[CHECKUP]\n1"); },
     kProgram, "in maintenance"},
    {"NoInstallerFile", [](const fs::path& t) { fs::remove(t / "Ulmet3/Ulmet_install.exe"); },
     "Ulmet3/Ulmet_install.exe", "cannot be installed", kBoth},
    {"BackslashInEntry", [](const fs::path& t) { Append(t / kList, "1004 sub\\b.dat\n"); }, kList,
     "names its folder with '\\'", kBoth},
    {"RecordNamesAnotherHost",
     [](const fs::path& t) { Edit(t / "UlLaunch/global_Ulmet.cfg", "127.0.0.1", "localhost"); },
     "./UlLaunch/global_Ulmet.cfg", "names host localhost, not 127.0.0.1", kServed},
};

class VerifyWarning : public Verify {};

TEST_P(VerifyWarning, WarnedButNoProblem) {
  const Fault& f = GetParam();
  const fs::path dir = Planted(f);
  for (int way : {kFolder, kServed}) {
    if (!(f.ways & way)) continue;
    std::unique_ptr<Server> server;
    if (way == kServed) server.reset(new Server((dir / "tree").string(), dir.string(), ""));
    const std::string prefix = way == kFolder ? (dir / "tree/").string() : "/";
    Verdict v = Check({server ? server->Url() : (dir / "tree").string()}, dir.string());
    EXPECT_TRUE(v.problems.empty()) << v.output;
    EXPECT_EQ(v.exitCode, 0);
    std::vector<std::string> warnings;
    std::istringstream lines(v.output);
    for (std::string line; std::getline(lines, line);) {
      if (line.find(": warning: ") != std::string::npos) warnings.push_back(line);
    }
    if (f.reason[0] == '\0') {
      EXPECT_TRUE(warnings.empty()) << v.output;
      continue;
    }
    ASSERT_EQ(warnings.size(), 1u) << v.output;
    EXPECT_EQ(warnings[0].rfind(prefix + f.file + ": warning: ", 0), 0u) << v.output;
    EXPECT_NE(warnings[0].find(f.reason), std::string::npos) << v.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Warnings, VerifyWarning, ::testing::ValuesIn(kWarnings),
                         [](const ::testing::TestParamInfo<Fault>& i) { return i.param.name; });

// The signed release, checked with the key the updaters are built with: the
// good tree signed, then one fault each that only that check finds.
const std::string kTestKeys = std::string(ULP_SOURCE_DIR) + "/tests/keys/";

// Each row: the problems, in the report's order, as (tree file, part of
// the reason). Both manifests record the lists and the files; only the one
// beside the directory file records the configuration files.
struct SignedFault {
  const char* name;
  void (*plant)(const fs::path& tree);
  std::vector<std::pair<const char*, const char*>> problems;
  int ways = kBoth;
};

void PrintTo(const SignedFault& f, std::ostream* os) { *os << f.name; }

const char kToday[] = "updaters built with the release key refuse";
const char kEarlier[] = "keyed updaters built before the roles existed";

const SignedFault kSignedFaults[] = {
    {"SignedGood", nullptr, {}},
    {"SignedByAnotherKey", [](const fs::path&) {},
     {{"UlLaunch/ULRelease2.sig", "not signed by the key"}, {"Ulmet3/ULRelease.sig", "not signed by the key"}}},
    {"SignatureMissing", [](const fs::path& t) { fs::remove(t / "UlLaunch/ULRelease2.sig"); },
     {{"UlLaunch/ULRelease2.sig", "missing: updaters built with the release key refuse every run (code-SG01)"}},
     kFolder},
    {"EarlierUpdatersSignatureMissing", [](const fs::path& t) { fs::remove(t / "Ulmet3/ULRelease.sig"); },
     {{"Ulmet3/ULRelease.sig", kEarlier}}, kFolder},
    {"NewCopyNotAsSigned", [](const fs::path& t) { Write(t / "Ulmet3/files/Ulmet.ex_", "other copy"); },
     {{"Ulmet3/files/Ulmet.ex_", kToday}, {"Ulmet3/files/Ulmet.ex_", kEarlier}}},
    {"ListChangedAfterSigning", [](const fs::path& t) { Append(t / kList, "1004 a.dll\n"); },
     {{kList, "(133 bytes served, 122 signed, or another SHA-256): updaters built with the release key refuse "
              "every run (code-SG03)"},
      {kList, kEarlier}}},
    {"HashListChangedAfterSigning", [](const fs::path& t) { Append(t / kHash, "; changed\n"); },
     {{kHash, "differs from the signed release"}, {kHash, kEarlier}}},
    // Checked with the key, a tree that was never signed is refused by
    // every keyed updater: a problem, not a note.
    {"NeverSigned",
     [](const fs::path& t) {
       for (const char* f : {"UlLaunch/ULRelease2.dat", "UlLaunch/ULRelease2.sig", "Ulmet3/ULRelease.dat",
                             "Ulmet3/ULRelease.sig"})
         fs::remove(t / f);
     },
     {{"UlLaunch/ULRelease2.dat", "missing: updaters built with the release key refuse every run (code-SG01)"}}},
    {"ProgramConfigChangedAfterSigning",
     [](const fs::path& t) { Edit(t / kProgram, "[CHECKUPNOTICE]\nhttp://", "[CHECKUPNOTICE]\nhttps://"); },
     {{kProgram, "differs from the signed release"}}},
    // Served, a body longer than its record is not stored past the record
    // and a margin.
    {"BodyRunsPastItsRecord", [](const fs::path& t) { Write(t / "Ulmet3/files/sub/b.dat", std::string(300000, 'b')); },
     {{"Ulmet3/files/sub/b.dat", "runs past 65537 bytes"}}, kServed},
};

class SignedVerify : public ::testing::TestWithParam<SignedFault> {
 public:
  static void SetUpTestSuite() { PublishGoodTree(GoodTreeBase()); }
  static void TearDownTestSuite() { fs::remove_all(GoodTreeBase()); }
};

void ExpectProblems(const Verdict& v, const SignedFault& f, const std::string& prefix) {
  ASSERT_EQ(v.problems.size(), f.problems.size()) << v.output;
  for (std::size_t i = 0; i < f.problems.size(); ++i) {
    EXPECT_EQ(v.problems[i].rfind(prefix + f.problems[i].first + ": ", 0), 0u) << v.output;
    EXPECT_NE(v.problems[i].find(f.problems[i].second), std::string::npos) << v.output;
  }
  EXPECT_EQ(v.exitCode, f.problems.empty() ? 0 : 1);
}

TEST_P(SignedVerify, OnlyTheReleaseAsSignedPasses) {
  const SignedFault& f = GetParam();
  const fs::path base = GoodTreeBase();
  const fs::path dir = base / f.name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(base / "tree", dir / "tree", fs::copy_options::recursive);
  scn::ProcSpec sign;
  sign.argv = {kBin + "/ulmet-publish", "sign", "--tree", (dir / "tree").string(), "--key",
               kTestKeys + "test-release.key"};
  sign.stdoutFile = sign.stderrFile = (dir / "sign.out").string();
  ASSERT_EQ(scn::RunProcess(sign, 60).exitCode, 0) << scn::ReadText(sign.stdoutFile);
  if (f.plant != nullptr) f.plant(dir / "tree");
  const std::string key = kTestKeys + (std::string(f.name) == "SignedByAnotherKey" ? "other" : "test") +
                          "-release.pub";
  if (f.ways & kFolder) {
    Verdict v = Check({(dir / "tree").string(), "--key", key}, dir.string());
    ExpectProblems(v, f, (dir / "tree/").string());
    if (f.plant == nullptr) {
      EXPECT_NE(v.output.find("signed release 1003: every file served as signed"), std::string::npos) << v.output;
    }
  }
  if (f.ways & kServed) {
    Server server((dir / "tree").string(), dir.string(), "");
    ExpectProblems(Check({server.Url(), "--key", key}, dir.string()), f, "/");
  }
}

INSTANTIATE_TEST_SUITE_P(Signed, SignedVerify, ::testing::ValuesIn(kSignedFaults),
                         [](const ::testing::TestParamInfo<SignedFault>& i) { return i.param.name; });

// What is not a tree: a wrong command line (2), a missing folder or a
// server that does not answer (1, one problem naming it).
TEST(VerifyCommand, WrongCallsAndUnreachableTrees) {
  const std::string dir = fs::temp_directory_path().string();
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* problem;
  } calls[] = {
      {{}, 2, nullptr},
      {{"a", "b"}, 2, nullptr},
      {{"/nonexistent", "--bogus"}, 2, nullptr},
      {{"/nonexistent", "--client-folder", "relative\\dir"}, 2, nullptr},
      {{"https://127.0.0.1/"}, 2, nullptr},
      {{"http://127.0.0.1/sub/"}, 2, nullptr},
      {{"/nonexistent/tree"}, 1, "/nonexistent/tree: no such folder"},
      {{"http://127.0.0.1:1/"}, 1, "http://127.0.0.1:1/: the server cannot be reached"},
  };
  for (const auto& c : calls) {
    Verdict v = Check(c.args, dir);
    EXPECT_EQ(v.exitCode, c.exitCode) << v.output;
    if (c.problem == nullptr) continue;
    ASSERT_EQ(v.problems.size(), 1u) << v.output;
    EXPECT_EQ(v.problems[0].rfind(c.problem, 0), 0u) << v.output;
  }
}

}  // namespace
