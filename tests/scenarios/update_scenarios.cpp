// Whole update runs: from the page's start of Ulmet.exe to the start of the
// client, against the test server (or nginx) serving a published release.
#include <cctype>

#include "harness/proc.h"
#include "harness/scenario.h"
#include "tree/file_digest.h"
#include "publisher/publisher.h"

namespace scn {
namespace {

using Update = Scenario;

// The digest that the release would list for a small file with this text.
std::string Md5Of(const std::string& text) {
  std::string path = ::testing::TempDir() + "/md5-of.tmp";
  std::string hex;
  EXPECT_TRUE(WriteText(path, text) && ulp::ChainedDigest(path, &hex));
  return hex;
}

TEST_F(Update, NothingNewLaunchesTheClientWithTheArgumentInQuotes) {
  Given().InstalledClient(1003).PublishedFile("a.dll", "a v1").ClientFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(3, "tok"));
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(3, "tok")));
  ExpectRequested("/UlLaunch/global_Ulmet.cfg");
  ExpectRequested("/Ulmet3/UpdateList.dat");
  ExpectNotRequested("/Ulmet3/files/a.dll");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1003");
  ExpectEndedWithin(30);
}

TEST_F(Update, NewerVersionsChangeFilesArchivesAndFoldersThenLaunch) {
  Given().InstalledClient(1000)
         .ClientFile("old.dll", "to be deleted")
         .ClientFile("OldDir\\inner\\x.txt", "folder to be removed")
         .ClientFile("a.dll", "a v0")
         .PublishedFile("a.dll", "a v2")
         .PublishedFile("my file.txt", "a name with a blank")
         .PublishedFile("Data/Skins/blue/a.bmp", "blue skin")
         .PublishedFile("Data/Skins/red/b.bmp", "red skin")
         .Release("archive Data\\Skins.zip Skins")
         .Release("version 1001 a.dll -old.dll")
         .Release("version 1002 \"my file.txt\" Data\\Skins.zip =OldDir");
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectClientFile("a.dll", "a v2");
  ExpectClientFile("my file.txt", "a name with a blank");
  ExpectClientFile("Data\\Skins\\blue\\a.bmp", "blue skin");
  ExpectClientFile("Data\\Skins\\red\\b.bmp", "red skin");
  ExpectNoClientFile("Data\\Skins.zip");
  ExpectNoClientFile("Skins");
  ExpectNoClientFile("old.dll");
  ExpectNoClientFile("OldDir");
  ExpectRequested("/Ulmet3/files/my!file.txt");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1002");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(Update, ServedByNginxFromThePublishedTree) {
  Given().ServedByNginx().InstalledClient(1000)
         .PublishedFile("b.dat", "served by nginx")
         .Release("version 1001 b.dat");
  Run(LaunchArg(2));
  ExpectClientFile("b.dat", "served by nginx");
  ExpectRequested("/UlLaunch/global_Ulmet.cfg");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(Update, MissingUpdateFileEndsTheRunWithoutLaunching) {
  Given().InstalledClient(1000)
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll")
         .Fault("/Ulmet3/files/a.dll", "status", "status=404");
  Run(LaunchArg(2));
  ExpectRequested("/Ulmet3/files/a.dll");
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectNothingStarted();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

// Every one of the 32 digest characters counts, exactly as written: a
// listed digest that differs from the file's only in its last character, or
// only in letter case, sends the file to the re-download as well.
TEST_F(Update, DamagedFileIsFetchedAgainByItsDigest) {
  const std::string digest = Md5Of("kept copy");
  ASSERT_EQ(digest.size(), 32u);
  std::string lastChanged = digest.substr(0, 31) + (digest[31] == '0' ? "1" : "0");
  std::string upper = digest;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, digest) << "the digest has no letter to change";
  Given().InstalledClient(1001)
         .ClientFile("a.dll", "damaged copy")
         .ClientFile("last.dat", "kept copy")
         .ClientFile("case.dat", "kept copy")
         .ClientFile("same.dat", "kept copy")
         .PublishedFile("a.dll", "good copy")
         .PublishedFile("last.dat", "fetched again")
         .PublishedFile("case.dat", "fetched again")
         .PublishedFile("same.dat", "never fetched")
         .Release("version 1001 a.dll")
         .ServerFile("Ulmet3/ULHashFile.dat", "a.dll:1:" + Md5Of("good copy") + ":.\\\n" +
                                              "last.dat:2:" + lastChanged + ":.\\\n" +
                                              "case.dat:3:" + upper + ":.\\\n" +
                                              "same.dat:4:" + digest + ":.\\\n");
  Run(LaunchArg(2));
  ExpectTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
  ExpectClientFile("a.dll", "good copy");
  // Both differ from the list, in the last character or the letters' case:
  // fetched again, and what came is not the list's either, so it does not
  // replace the installed copy and the run ends with its box.
  ExpectTrace("CheckInstalledFiles: 4 files, 4 read, 0 vouched for by the record, 3 differ");
  ExpectRequested("/Ulmet3/files/last.dat");
  ExpectTrace("Error : /Ulmet3/files/last.dat differs from the hash list");
  ExpectClientFile("last.dat", "kept copy");
  ExpectClientFile("same.dat", "kept copy");
  ExpectNotRequested("/Ulmet3/files/same.dat");
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectNothingStarted();
}

TEST_F(Update, UpdateListUnreachableShowsTheListErrorAndLaunchesNothing) {
  Given().InstalledClient(1000).Fault("/Ulmet3/UpdateList.dat", "status", "status=500");
  Run(LaunchArg(2));
  ExpectBoxes({"업데이트 파일 목록을 설정하는데 실패하였습니다.\n잠시 후 다시 실행해 주시기 바랍니다."});
  ExpectNothingStarted();
}

TEST_F(Update, ConfigurationServerDownEndsSilently) {
  Given().InstalledClient(1000).ServerDown();
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectNothingStarted();
  ExpectEndedWithin(30);
}

TEST_F(Update, MaintenanceOpensTheNoticePageOnly) {
  Given().InstalledClient(1000)
         .Release("set CHECKUP 1")
         .Release("set CHECKUPNOTICE http://127.0.0.1/notice/regular.html");
  Run(LaunchArg(2));
  ExpectPageOpened("http://127.0.0.1/notice/regular.html");
  ExpectNothingStarted();
  ExpectNotRequested("/Ulmet3/UpdateList.dat");
}

TEST_F(Update, RunningClientBlocksAnUpdate) {
  Given().InstalledClient(1000).ClientRunning()
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(2));
  ExpectBoxes({"울메가 새로운 버전으로 업데이트 되었습니다.\n현재 실행중인 울메를 종료하시고 다시 실행해 주시기 바랍니다."});
  ExpectNotRequested("/Ulmet3/files/a.dll");
  ExpectNothingStarted();
}

TEST_F(Update, FreshMachineDownloadsAndStartsTheInstaller) {
  Given().Release("installer " + StandInProgram());
  Run(LaunchArg(2));
  ExpectBoxes({"울메 설치를 시작합니다.(#1)"});
  ExpectRequested("/Ulmet3/Ulmet_install.exe");
  ExpectNotRequested("/Ulmet3/UpdateList.dat");
  ExpectStarted("UL3_Install.ex_", QuotedArg(LaunchArg(2)));
}

TEST_F(Update, CrashLogIsPostedAndDeleted) {
  tb::CrashLog log;
  log.version = "4001";
  Given().InstalledClient(1000).CrashLog("1234_exception.log", log);
  Run(LaunchArg(2));
  ExpectPosted("/report/exception.php", "uid=1234&fver=ulmet3&ver=4001");
  ExpectPosted("/report/exception.php", "&fmod=UlmetMain.exe&");
  EXPECT_FALSE(ClientFileExists("Log\\1234_exception.log"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn

namespace scn {
namespace {

TEST_F(Update, ArchiveAtTheTopIsUnpackedIntoTheClientFolder) {
  Given().InstalledClient(1000)
         .PublishedFile("Skins/blue/a.bmp", "blue skin")
         .Release("archive Skins.zip Skins")
         .Release("version 1001 Skins.zip");
  Run(LaunchArg(2));
  ExpectClientFile("Skins\\blue\\a.bmp", "blue skin");
  ExpectNoClientFile("Skins.zip");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn

namespace scn {
namespace {

// The digest-driven re-download fetches a damaged file from where the
// release publishes it (blanks as '!', below its folder) and writes it where
// the comparison read it.
TEST_F(Update, DamagedFileWithABlankIsRepaired) {
  Given().InstalledClient(1001)
         .ClientFile("my file.txt", "damaged")
         .PublishedFile("my file.txt", "good")
         .Release("version 1001 \"my file.txt\"");
  Run(LaunchArg(2));
  ExpectRequested("/Ulmet3/files/my!file.txt");
  ExpectClientFile("my file.txt", "good");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(Update, DamagedFileInASubFolderIsRepairedInItsFolder) {
  Given().InstalledClient(1001)
         .ClientFile("Data\\x.txt", "damaged")
         .PublishedFile("Data/x.txt", "good")
         .Release("version 1001 Data\\x.txt");
  Run(LaunchArg(2));
  ExpectClientFile("Data\\x.txt", "good");
  ExpectNoClientFile("x.txt");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn
