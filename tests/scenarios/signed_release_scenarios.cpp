// An updater built with a release key (bin/signed/Ulmet.exe, the test key of
// tests/keys): a release signed with that key installs as before; a start
// that finds the release unsigned, signed by another key, older than the
// installed version or with a list the signature does not cover stops
// before any file changes; a file that differs from the signed release is a
// failed download and replaces nothing. The build without a key takes the
// same tampered file as it always did.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "harness/proc.h"
#include "harness/scenario.h"
#include "tree/tree_layout.h"

namespace scn {
namespace {

const char kManifest[] = "/UlLaunch/ULRelease2.dat";
const char kSignature[] = "/UlLaunch/ULRelease2.sig";
const char kDiffers[] = "differs from the signed release";

std::string RefusalBox(int code) {
  char number[8];
  std::snprintf(number, sizeof number, "%02d", code);
  return std::string("서명이 확인되지 않은 업데이트 정보를 받아 업데이트를 중단합니다.(code-SG") + number +
         ")\n잠시 후 다시 실행해 주시기 바랍니다.";
}

// The installed client of most cases, a.dll v1, and a release that brings
// a.dll v2 and b.txt in 1002, built and signed with the test key.
World& SignedClient(World& w, int installed) {
  return w.InstalledClient(installed)
      .ClientFile("a.dll", "a v1")
      .PublishedFile("a.dll", "a v2")
      .PublishedFile("b.txt", "new in 1002")
      .Release("version 1001 a.dll")
      .Release("version 1002 a.dll b.txt")
      .SignedWith("test-release");
}

// The program configuration as the test bed publishes it, with sections
// changed after signing; an empty value leaves the section out.
std::string AlteredConfig(const std::map<std::string, std::string>& changes) {
  ulp::Sections sections;
  for (auto s : ulp::DefaultProgramSections(TestPaths().configHost, ulp::ServerPaths())) {
    auto c = changes.find(s.first);
    if (c != changes.end()) s.second = c->second;
    if (!s.second.empty()) sections.push_back(s);
  }
  return ulp::ProgramConfigText(sections);
}

// An attack on a client at 1003 with the older signed release 1002 and its
// installer: the program configuration is made to look for the installed
// version where there is none, so that the older release would pass and
// the run would go to the installer.
World& OlderReleaseWithInstaller(World& w, const std::map<std::string, std::string>& changes) {
  return w.Release("installer " + StandInProgram()).ServerFile("UlLaunch/ULProgram.cfg", AlteredConfig(changes));
}

using SignedRelease = Scenario;

// A folder of the client that someone made a link to a folder elsewhere (a
// junction, as Wine shows a Unix link to a folder): a keyed build writes
// nothing through it.
TEST_F(SignedRelease, NothingIsWrittenThroughALinkPlantedInTheClientFolder) {
  const std::string outside = OutputDir() + "/outside";
  std::filesystem::create_directories(outside);
  Given().InstalledClient(1000)
         .ClientLink("Data", outside, false)
         .PublishedFile("Data/x.dll", "x v2")
         .PublishedFile("a.dll", "a v2")
         .Release("version 1001 a.dll Data/x.dll")
         .SignedBuild();
  Run(LaunchArg(2));
  ExpectTrace("Refused path through a reparse point : C:\\Ulmet\\Data\\x.dll");
  ExpectClientFile("a.dll", "a v2");
  EXPECT_FALSE(std::filesystem::exists(outside + "/x.dll")) << "written through the link";
}

TEST_F(SignedRelease, SignedReleaseInstallsAsBeforeAndRepairsByItsDigests) {
  Given().InstalledClient(1000)
         .ClientFile("Data\\kept.ini", "damaged")  // repaired from the hash list
         .PublishedFile("a.dll", "a v2")
         .PublishedFile("read me.txt", "a blank in the name")
         .PublishedFile("Data/kept.ini", "kept v1")
         .PublishedFile("Data/Skins/blue.bmp", "blue")
         .Release("archive Data/Skins.zip Skins")
         .Release("version 1001 a.dll \"read me.txt\" Data/Skins.zip")
         .SignedBuild();
  Run(LaunchArg(2));
  ExpectRequested(kSignature);
  ExpectRequested(kManifest);
  ExpectTrace("Release check: release 1001 signed");
  ExpectClientFile("a.dll", "a v2");
  ExpectClientFile("read me.txt", "a blank in the name");
  ExpectClientFile("Data\\Skins\\blue.bmp", "blue");
  ExpectClientFile("Data\\kept.ini", "kept v1");
  ExpectNoBox();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// The operators' tool end to end: init and release with --key, the tree
// served through the shipped nginx block, and the keyed updater taking the
// release, its own new copy (keyed too) included.
TEST_F(SignedRelease, ToolsSignedReleaseInstallsThroughNginxWithTheNewCopy) {
  const auto& P = TestPaths();
  const std::string root = OutputDir() + "/tool";
  const std::string key = P.sourceDir + "/tests/keys/test-release.key";
  const std::string updater = ReadText(P.winBin + "/signed/Ulmet.exe");
  for (int v = 1; v <= 2; ++v) {
    const std::string client = root + "/client-v" + std::to_string(v);
    std::filesystem::create_directories(client);
    std::filesystem::copy_file(P.winBin + "/UlmetMain.exe", client + "/UlmetMain.exe");
    WriteText(client + "/Ulmet.exe", v == 1 ? updater : updater + "release 2");
    WriteText(client + "/a.dll", "a v" + std::to_string(v));
    if (v == 2) WriteText(client + "/b c.txt", "new in v2");
  }
  const std::vector<std::vector<std::string>> steps = {
      {"init", "--client", root + "/client-v1", "--out", root + "/tree", "--host", P.configHost, "--key", key},
      {"release", "--tree", root + "/tree", "--client", root + "/client-v2", "--key", key}};
  for (const auto& step : steps) {
    std::vector<std::string> argv = {P.nativeBin + "/ulmet-publish"};
    argv.insert(argv.end(), step.begin(), step.end());
    ASSERT_EQ(RunProcess({argv, {}, "", root + "/tool.out", root + "/tool.err"}, 120).exitCode, 0)
        << ReadText(root + "/tool.err");
  }
  Given().SignedBuild().ServedByNginx().ServedTree(root + "/tree").InstalledFolder(root + "/client-v1", 1000);
  Run(LaunchArg(2));
  ExpectRequested("/Ulmet3/files/Ulmet.ex_");
  ExpectTrace("Release check: release 1001 signed");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectClientFolderEquals(root + "/client-v2");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// Refused at the start: the box with its code, nothing fetched from the
// update folder, nothing changed, nothing started.
struct Refusal {
  const char* name;
  std::function<void(World&)> given;
  int code;
  int installed;
};

const Refusal kRefusals[] = {
    {"MissingSignature", [](World& w) { w.ServerFileRemoved("UlLaunch/ULRelease2.sig"); }, 1, 1001},
    {"SignedByAnotherKey", [](World& w) { w.SignedWith("other-release"); }, 2, 1001},
    {"TamperedUpdateList",
     [](World& w) { w.ServerFile("Ulmet3/UpdateList.dat", "[ULMET]\n1002 a.dll b.txt evil.exe\n"); }, 3, 1001},
    {"TamperedHashList", [](World& w) { w.ServerFile("Ulmet3/ULHashFile.dat", ";\n"); }, 3, 1001},
    // A release older than the installed one, signed and whole: replayed.
    {"OlderReleaseReplayed", [](World&) {}, 4, 1003},
    // The directory file and the program configuration are signed too.
    {"UnsignedDirectoryFile",
     [](World& w) {
       w.ServerFile("UlLaunch/global_Ulmet.cfg", "5001\n" + TestPaths().configHost + "\n80\n/evil/ULProgram.cfg\n")
           .ServerFileCopy("UlLaunch/ULProgram.cfg", "evil/ULProgram.cfg");
     },
     3, 1001},
    {"UnsignedProgramConfig",
     [](World& w) { w.ServerFile("UlLaunch/ULProgram.cfg", AlteredConfig({{"UPDATESUBPATH", "/Ulmet3/files/Data/"}})); },
     3, 1001},
    {"ConfigWithoutRegistryKeys",
     [](World& w) {
       OlderReleaseWithInstaller(w, {{"REGISTRYPATH", ""}, {"REGISTRYNEWPATH", ""}, {"REGISTRYULMETPATH", ""}});
     },
     3, 1003},
    {"ConfigNamingAKeyThatAlwaysExists",
     [](World& w) { OlderReleaseWithInstaller(w, {{"REGISTRYULMETPATH", "Software"}}); }, 3, 1003},
    {"ReleaseSignedOnlyForEarlierUpdaters",
     [](World& w) { w.ServerFileRemoved("UlLaunch/ULRelease2.dat").ServerFileRemoved("UlLaunch/ULRelease2.sig"); },
     1, 1001},
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class SignedRefusal : public Scenario, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SignedRefusal, StopsWithItsBoxBeforeAnyFileChanges) {
  SignedClient(Given(), GetParam().installed).SignedBuild();
  GetParam().given(Given());
  Run(LaunchArg(2));
  ExpectBoxes({RefusalBox(GetParam().code)});
  ExpectBox(RefusalBox(GetParam().code), "오류");
  for (const auto& r : Requests())
    EXPECT_NE(r.at("path").rfind("/Ulmet3/files/", 0), 0u) << "fetched: " << r.at("path");
  ExpectClientFile("a.dll", "a v1");
  ExpectNoClientFile("b.txt");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(GetParam().installed));
  ExpectNothingStarted();
}

INSTANTIATE_TEST_SUITE_P(Start, SignedRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Without an installation where the signed configuration says, a run can
// only install afresh, and only from a release no older than the newest
// one a keyed run on this computer accepted before.
struct Fresh {
  const char* name;
  int newestSeen;
  bool installs;
};

const Fresh kFresh[] = {{"OlderThanSeenBefore", 1003, false}, {"NewestSeen", 1002, true}};

void PrintTo(const Fresh& f, std::ostream* os) { *os << f.name; }

class SignedFreshInstall : public Scenario, public ::testing::WithParamInterface<Fresh> {};

TEST_P(SignedFreshInstall, TakesOnlyTheNewestSignedRelease) {
  Given().Registry("HKCU\\Software\\ULPatchwell", "ReleaseVersion", std::to_string(GetParam().newestSeen))
         .PublishedFile("a.dll", "a v2")
         .Release("installer " + StandInProgram())
         .Release("version 1001 a.dll")
         .Release("version 1002 a.dll")
         .SignedBuild();
  Run(LaunchArg(2));
  if (GetParam().installs) {
    ExpectBoxes({"울메 설치를 시작합니다.(#1)"});
    ExpectRequested("/Ulmet3/Ulmet_install.exe");
    ExpectStarted("UL3_Install.ex_", "UL3_Install.ex_ " + QuotedArg(LaunchArg(2)));
  } else {
    ExpectBoxes({RefusalBox(4)});
    ExpectNotRequested("/Ulmet3/Ulmet_install.exe");
    ExpectNothingStarted();
  }
  ExpectRegistry("HKCU\\Software\\ULPatchwell", "ReleaseVersion", std::to_string(GetParam().newestSeen));
}

INSTANTIATE_TEST_SUITE_P(NoInstallation, SignedFreshInstall, ::testing::ValuesIn(kFresh),
                         [](const ::testing::TestParamInfo<Fresh>& info) { return std::string(info.param.name); });

TEST_F(SignedRelease, SystemWithoutSignatureChecksRefusesEveryRun) {
  SignedClient(Given(), 1001).SignedBuild().SystemLibraryMissing("bcrypt");
  Run(LaunchArg(2));
  ExpectBoxes({"이 컴퓨터에서는 업데이트 파일의 서명을 확인할 수 없어 업데이트를 중단합니다.(code-SG05)\n"
               "울메 홈페이지의 안내를 확인해 주시기 바랍니다."});
  ExpectClientFile("a.dll", "a v1");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectNothingStarted();
}

// A file served other than signed: the usual failed download, the installed
// copy left as it was and the partial download gone.
struct Tampered {
  const char* name;
  std::function<void(World&)> given;
  const char* path;  // the tampered request
};

const Tampered kTampered[] = {
    {"UpdateFile", [](World& w) { SignedClient(w, 1001).SignedBuild(); }, "/Ulmet3/files/a.dll"},
    {"UpdatersNewCopy",
     [](World& w) {
       w.InstalledClient(1000)
           .Release("file Ulmet.ex_ " + TestPaths().winBin + "/signed/Ulmet.exe")
           .Release("version 1001 Ulmet.ex_")
           .SignedBuild();
     },
     "/Ulmet3/files/Ulmet.ex_"},
    {"Installer",
     [](World& w) {
       w.InstalledClient(1000)
           .Release("installer " + StandInProgram())
           .Release("version 1001 Ulmet_install.exe")
           .SignedBuild();
     },
     "/Ulmet3/Ulmet_install.exe"},
    {"RepairByDigest",
     [](World& w) {
       SignedClient(w, 1002).SignedBuild().ClientFile("b.txt", "damaged");
     },
     "/Ulmet3/files/b.txt"},
};

void PrintTo(const Tampered& t, std::ostream* os) { *os << t.name; }

class SignedTampered : public Scenario, public ::testing::WithParamInterface<Tampered> {};

TEST_P(SignedTampered, IsRefusedAndReplacesNothing) {
  GetParam().given(Given());
  const std::string before = UnixPath(std::string(kClientFolder));
  Given().Fault(GetParam().path, "body", "body=evil");
  Run(LaunchArg(2));
  ExpectRequested(GetParam().path);
  ExpectTrace(std::string("Release check: ") + GetParam().path + " " + kDiffers);
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectNothingStarted();
  for (const auto& e : std::filesystem::recursive_directory_iterator(before)) {
    if (e.is_regular_file()) {
      EXPECT_NE(ReadText(e.path().string()), "evil") << e.path();
    }
    EXPECT_EQ(e.path().string().find("~dl"), std::string::npos) << "partial left: " << e.path();
  }
  for (const char* name : {"UL3_Install.ex_", "UL3_Install.ex_~dl"})
    EXPECT_FALSE(std::filesystem::exists(UnixPath(std::string("C:\\windows\\temp\\") + name))) << name;
}

INSTANTIATE_TEST_SUITE_P(Download, SignedTampered, ::testing::ValuesIn(kTampered),
                         [](const ::testing::TestParamInfo<Tampered>& info) { return std::string(info.param.name); });

TEST_F(SignedRelease, BuildWithoutKeyRefusesATamperedFileByTheHashList) {
  // The same signed tree and fault; the build without a key never asks for
  // the manifest, but what the server sent is not the hash list's a.dll.
  SignedClient(Given(), 1001).Fault("/Ulmet3/files/a.dll", "body", "body=evil");
  Run(LaunchArg(2));
  ExpectNotRequested(kManifest);
  ExpectNotRequested(kSignature);
  ExpectTrace("Error : /Ulmet3/files/a.dll differs from the hash list");
  ExpectClientFile("a.dll", "a v1");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectNothingStarted();
}

}  // namespace
}  // namespace scn

namespace scn {
namespace {

// What the checks cost (disabled; run explicitly):
//   ul_scenarios --gtest_also_run_disabled_tests --gtest_filter='*SignedBench*'
// The same release with and without the key: 3,000 small files to fetch, or
// one file of 64 MB. Prints the run's seconds and the tree's signing time.
struct Bench {
  const char* name;
  int files;
  int megabytes;
  bool keyed;
};

const Bench kBenches[] = {
    {"ThreeThousandFilesWithoutKey", 3000, 0, false}, {"ThreeThousandFilesKeyed", 3000, 0, true},
    {"SixtyFourMegabytesWithoutKey", 0, 64, false},   {"SixtyFourMegabytesKeyed", 0, 64, true},
};

void PrintTo(const Bench& b, std::ostream* os) { *os << b.name; }

class SignedBench : public Scenario, public ::testing::WithParamInterface<Bench> {};

TEST_P(SignedBench, DISABLED_RunWithAndWithoutTheChecks) {
  const Bench& b = GetParam();
  World& w = Given();
  w.InstalledClient(1000).TimeLimit(900).SignedWith("test-release");
  if (b.keyed) w.SignedBuild();
  std::string line;
  int version = 1000;
  for (int i = 1; i <= b.files; ++i) {
    const std::string name = "f" + std::to_string(10000 + i) + ".dat";
    w.PublishedFile(name, std::string(200 + (i * 37) % 3000, static_cast<char>('a' + i % 26)));
    line += " " + name;
    if (i % 50 == 0) w.Release("version " + std::to_string(++version) + line), line.clear();
  }
  if (b.megabytes > 0) {
    std::string body(static_cast<size_t>(b.megabytes) << 20, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
    w.PublishedFile("big.bin", body).Release("version " + std::to_string(++version) + " big.bin");
  }
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(version));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  std::printf("%s: run %.2f s; %s\n", b.name, Result().seconds, ReadText(OutputDir() + "/sign.out").c_str());
}

INSTANTIATE_TEST_SUITE_P(Cost, SignedBench, ::testing::ValuesIn(kBenches),
                         [](const ::testing::TestParamInfo<Bench>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace scn
