// An earlier major version installed beside the current client: its user
// data is carried over, its registry keys go, the user is told, its own
// uninstaller starts and the run ends. The two places where it may be
// recorded are [REGISTRYNEWPATH] (Software\ULMET3) and [REGISTRYPATH]
// (Software\Zolte\ULMET3), both in HKLM.
#include <cstdlib>
#include <filesystem>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace scn {
namespace {

namespace fs = std::filesystem;

const char kNotice[] =
    "울메4.0을 설치하기 위해서 이전 버전을 삭제합니다.\r\n\"확인\"버튼을 누르시면 삭제 작업이 진행됩니다.\r\n\r\n"
    "이전 버전 삭제 완료 후 울메를 다시 실행하세요.";

const char kFirstKey[] = "HKLM\\Software\\ULMET3";
const char kSecondKey[] = "HKLM\\Software\\Zolte\\ULMET3";
const char kOld[] = "C:\\OldUlmet";
const char kFirst[] = "C:\\OldUlmet\\First";
const char kSecond[] = "C:\\OldUlmet\\Second";

class Removal : public Scenario {
 protected:
  // An earlier installation at folder: MainPath and StartPath recorded under
  // key, the start folder present unless told, one file in UserData and the
  // stand-in as its uninstaller.
  void EarlierInstallation(const std::string& key, const std::string& folder, const std::string& dataFile,
                           bool startFolder = true, const std::string& mainPathValue = "") {
    Given().Registry(key, "MainPath", mainPathValue.empty() ? folder : mainPathValue)
           .Registry(key, "StartPath", folder + "\\Start")
           .OutsideFile(folder + "\\UserData\\" + dataFile, "data of " + folder + "\n")
           .OutsideProgram(folder + "\\uninstall.exe");
    if (startFolder) Given().OutsideFolder(folder + "\\Start");
  }

  bool Exists(const std::string& windowsPath) const { return fs::exists(UnixPath(windowsPath)); }
  std::string Text(const std::string& windowsPath) const { return ReadText(UnixPath(windowsPath)); }

  // The one notice box, an information box of the updater's own kind.
  void ExpectNoticeOnly() {
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kNotice);
    EXPECT_EQ(boxes[0].caption, "정보");
    EXPECT_EQ(boxes[0].kind, "product");
  }

  // Only the uninstaller at path started, after the notice was closed, and
  // the run went no further.
  void ExpectOnlyUninstaller(const std::string& path) {
    auto starts = Starts();
    ASSERT_EQ(starts.size(), 1u) << "started " << (starts.empty() ? "nothing" : starts[0].at("program"));
    EXPECT_EQ(starts[0].at("program"), "uninstall.exe");
    EXPECT_EQ(starts[0].at("path"), path);
    EXPECT_EQ(starts[0].at("command_line"), path);
    long long pressed = -1;
    for (const auto& r : tb::ReadJsonLines(OutputDir() + "/logs/boxes.jsonl", false))
      if (r.count("event") && r.at("event") == "pressed") pressed = std::atoll(r.at("time_ms").c_str());
    ASSERT_GE(pressed, 0) << "the notice was never closed";
    EXPECT_GE(std::atoll(starts[0].at("time_ms").c_str()), pressed) << "the uninstaller started before the notice closed";
    ExpectNotRequested("/Ulmet3/UpdateList.dat");
    ExpectEndedWithin(30);
  }
};

TEST_F(Removal, BothPlacesCopyTheFirstPlacesDataAndStartItsUninstaller) {
  Given().InstalledClient(1000).OutsideFolder(kOld)
         .OutsideFile(std::string(kFirst) + "\\UserData\\save\\slot1.dat", "first slot");
  EarlierInstallation(kFirstKey, kFirst, "first.txt");
  EarlierInstallation(kSecondKey, kSecond, "second.txt");
  Run(LaunchArg(2));

  ExpectNoticeOnly();
  ExpectClientFile("UserData\\first.txt", std::string("data of ") + kFirst + "\n");
  ExpectClientFile("UserData\\save\\slot1.dat", "first slot");
  ExpectNoClientFile("UserData\\second.txt");
  ExpectOnlyUninstaller(std::string(kFirst) + "\\uninstall.exe");
  EXPECT_FALSE(RegistryKeyExists(kFirstKey));
  EXPECT_FALSE(RegistryKeyExists(kSecondKey));
  // The earlier installation's files are its uninstaller's business.
  EXPECT_TRUE(Exists(std::string(kFirst) + "\\UserData\\first.txt"));
  EXPECT_TRUE(Exists(std::string(kSecond) + "\\UserData\\second.txt"));
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

// MainPath ending in a backslash: the uninstaller's path has no doubled one.
TEST_F(Removal, OnlyTheSecondPlaceCopiesItsDataAndStartsItsUninstaller) {
  Given().InstalledClient(1000).OutsideFolder(kOld);
  EarlierInstallation(kSecondKey, kSecond, "second.txt", true, std::string(kSecond) + "\\");
  Run(LaunchArg(2));

  ExpectNoticeOnly();
  ExpectClientFile("UserData\\second.txt", std::string("data of ") + kSecond + "\n");
  ExpectOnlyUninstaller(std::string(kSecond) + "\\uninstall.exe");
  EXPECT_FALSE(RegistryKeyExists(kSecondKey));
}

TEST_F(Removal, PlaceWithoutItsStartFolderDoesNotCount) {
  Given().InstalledClient(1000).OutsideFolder(kOld);
  EarlierInstallation(kFirstKey, kFirst, "first.txt", false);
  EarlierInstallation(kSecondKey, kSecond, "second.txt");
  Run(LaunchArg(2));

  ExpectNoticeOnly();
  ExpectClientFile("UserData\\second.txt", std::string("data of ") + kSecond + "\n");
  ExpectNoClientFile("UserData\\first.txt");
  ExpectOnlyUninstaller(std::string(kSecond) + "\\uninstall.exe");
}

// The per-user settings of the earlier version: the first key is carried
// into the current user's Software\Ulmet (sub keys too), the second is
// only deleted.
TEST_F(Removal, PerUserKeysFirstIsCopiedAndBothAreDeleted) {
  Given().InstalledClient(1000).OutsideFolder(kOld)
         .Registry("HKCU\\Software\\ULMET3", "Nick", "first user")
         .Registry("HKCU\\Software\\ULMET3\\Options", "Sound", "on")
         .Registry("HKCU\\Software\\Zolte\\ULMET3", "Nick", "second user")
         .Registry("HKCU\\Software\\Zolte\\ULMET3", "OnlySecond", "x");
  EarlierInstallation(kFirstKey, kFirst, "first.txt");
  Run(LaunchArg(2));

  ExpectNoticeOnly();
  ExpectRegistry("HKCU\\Software\\Ulmet", "Nick", "first user");
  ExpectRegistry("HKCU\\Software\\Ulmet\\Options", "Sound", "on");
  ExpectRegistry("HKCU\\Software\\Ulmet", "OnlySecond", "");
  EXPECT_FALSE(RegistryKeyExists("HKCU\\Software\\ULMET3"));
  EXPECT_FALSE(RegistryKeyExists("HKCU\\Software\\Zolte\\ULMET3"));
  EXPECT_FALSE(RegistryKeyExists(kFirstKey));
  EXPECT_FALSE(RegistryKeyExists(kSecondKey));
  // The current client's machine key is not one of them.
  ExpectRegistry("HKLM\\Software\\ULMET", "MainPath", kClientFolder);
  ExpectOnlyUninstaller(std::string(kFirst) + "\\uninstall.exe");
}

// A per-user installation records "MainPath" only under the current user:
// the earlier data goes into the client folder of the run, and nothing is
// created at the root of the drive.
TEST_F(Removal, PerUserInstallationGetsTheDataInItsClientFolder) {
  fs::remove_all(UnixPath("C:\\UserData"));
  Given().InstalledClientForCurrentUser(1000).OutsideFolder(kOld);
  EarlierInstallation(kFirstKey, kFirst, "first.txt");
  Run(LaunchArg(2));

  ExpectNoticeOnly();
  ExpectClientFile("UserData\\first.txt", std::string("data of ") + kFirst + "\n");
  EXPECT_FALSE(Exists("C:\\UserData")) << "UserData was created at the root of drive C";
  ExpectOnlyUninstaller(std::string(kFirst) + "\\uninstall.exe");
}

// Keys of an earlier version whose folders are gone do not make an earlier
// installation: nothing is touched and the update goes on.
TEST_F(Removal, NoEarlierInstallationLeavesTheRegistryAndUpdates) {
  Given().InstalledClient(1000)
         .Registry(kSecondKey, "MainPath", "C:\\GoneUlmet\\Main")
         .Registry(kSecondKey, "StartPath", "C:\\GoneUlmet\\Start")
         .Registry("HKCU\\Software\\ULMET3", "Nick", "first user")
         .Registry("HKCU\\Software\\Zolte\\ULMET3", "Nick", "second user")
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(2));

  ExpectNoBox();
  ExpectRegistry("HKCU\\Software\\ULMET3", "Nick", "first user");
  ExpectRegistry("HKCU\\Software\\Zolte\\ULMET3", "Nick", "second user");
  ExpectRegistry(kSecondKey, "MainPath", "C:\\GoneUlmet\\Main");
  ExpectRegistry("HKCU\\Software\\Ulmet", "Nick", "");
  ExpectRequested("/Ulmet3/UpdateList.dat");
  ExpectClientFile("a.dll", "a v1");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  ExpectNothingStartedBut({"UlmetMain.exe"});
}

}  // namespace
}  // namespace scn
