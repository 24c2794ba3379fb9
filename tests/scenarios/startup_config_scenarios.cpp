// Start-up reads the configuration server's three files before any window
// appears: the directory file, the program configuration and the hash list.
// A file that is missing or unusable ends the run without a word, and the
// copies fetched into the Windows Temp folder never stay behind.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/scenario.h"

namespace scn {
namespace {

const char kDirectoryFile[] = "/UlLaunch/global_Ulmet.cfg";
const char kProgramConfig[] = "/UlLaunch/ULProgram.cfg";
const char kHashList[] = "/Ulmet3/ULHashFile.dat";
const char kUpdateList[] = "/Ulmet3/UpdateList.dat";

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Join(const std::vector<std::string>& items) {
  std::string all;
  for (const auto& i : items) all += (all.empty() ? "" : ", ") + i;
  return all;
}

class StartUpConfig : public Scenario {
 protected:
  // The start-up copies (and their partial downloads) still in the Windows
  // Temp folder after the run.
  std::vector<std::string> TempLeftovers(std::vector<std::string> names = {"global.cfg_", "ULProgram.cfg_",
                                                                         "ULHashFile.dat_"}) const {
    namespace fs = std::filesystem;
    std::vector<std::string> left;
    std::string temp = UnixPath("C:\\windows\\temp");
    EXPECT_TRUE(fs::is_directory(temp)) << temp;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(temp, ec)) {
      std::string name = Lower(e.path().filename().string());
      for (const auto& n : names) {
        if (name == Lower(n) || name == Lower(n) + "~dl") left.push_back(e.path().filename().string());
      }
    }
    return left;
  }

  // The status with which the server answered the first request for path;
  // "" when it was not requested.
  std::string StatusOf(const std::string& path) const {
    for (const auto& r : Requests())
      if (r.at("path") == path) return r.at("status");
    return "";
  }

  // A run that ended during start-up: no box, nothing started, no page, no
  // dialog, the update sequence never reached, no copy left in Temp.
  void ExpectSilentEnd() {
    ExpectNoBox();
    ExpectNothingStarted();
    ExpectNoPageOpened();
    EXPECT_EQ(DialogShownCount(), 0) << "the progress dialog came on screen";
    ExpectNoTrace("CheckFirstRun");
    ExpectNotRequested(kUpdateList);
    std::vector<std::string> left = TempLeftovers();
    EXPECT_TRUE(left.empty()) << "left in the Windows Temp folder: " << Join(left);
    ExpectEndedWithin(20);
  }
};

TEST_F(StartUpConfig, MissingDirectoryFileEndsSilently) {
  Given().InstalledClient(1000).Fault(kDirectoryFile, "status", "status=404").TimeLimit(30);
  Run(LaunchArg(2));
  EXPECT_EQ(StatusOf(kDirectoryFile), "404");
  EXPECT_EQ(Requests().size(), 1u) << "nothing is fetched after the directory file; see " << OutputDir();
  ExpectSilentEnd();
}

TEST_F(StartUpConfig, ProgramConfigurationOfAnotherInstanceEndsSilently) {
  Given().InstalledClient(1000).Release("set INSTANCENUMBER 5002").TimeLimit(30);
  Run(LaunchArg(2));
  EXPECT_EQ(StatusOf(kProgramConfig), "200");
  ExpectNotRequested(kHashList);
  ExpectSilentEnd();
}

TEST_F(StartUpConfig, HashListOfCommentsOnlyEndsSilently) {
  Given().InstalledClient(1000)
         .ServerFile(kHashList, "; name:number:digest:folder\n; nothing is published\n")
         .TimeLimit(30);
  Run(LaunchArg(2));
  EXPECT_EQ(StatusOf(kHashList), "200");
  ExpectSilentEnd();
}

TEST_F(StartUpConfig, EmptyHashListEndsSilently) {
  Given().InstalledClient(1000).ServerFile(kHashList, "").TimeLimit(30);
  Run(LaunchArg(2));
  EXPECT_EQ(StatusOf(kHashList), "200");
  ExpectSilentEnd();
}

// An empty answer writes no file. A copy that an earlier run left in Temp
// must not be read in its place: here it would be a well-formed hash list
// that lets the run go on.
TEST_F(StartUpConfig, EmptyHashListAnswerNeverReadsAnEarlierCopy) {
  Given().InstalledClient(1000)
         .Fault(kHashList, "empty")
         .TempFile("ULHashFile.dat_", "UlmetMain.exe:1:0123456789abcdef0123456789abcdef:.\\\n")
         .TimeLimit(30);
  Run(LaunchArg(2));
  EXPECT_EQ(StatusOf(kHashList), "200");
  ExpectSilentEnd();
}

// The same for the update list: an empty answer is a list that cannot be
// read, not the entries of an earlier run's copy.
TEST_F(StartUpConfig, EmptyUpdateListAnswerNeverReadsAnEarlierCopy) {
  Given().InstalledClient(1000)
         .Fault(kUpdateList, "empty")
         .TempFile("UpdateList.dat_", "[ULMET]\n1001 stale.dll\n")
         .TimeLimit(30);
  Run(LaunchArg(2));
  ExpectBoxes({"업데이트 파일 목록을 설정하는데 실패하였습니다.\n잠시 후 다시 실행해 주시기 바랍니다."});
  ExpectNotRequested("/Ulmet3/files/stale.dll");
  ExpectNothingStarted();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

// The 5001 record stands behind others that name a wrong host or a wrong
// path, and another 5001 record follows it. The program configuration is
// served only where the first 5001 record points: the default place answers
// 404, so only a run that used that record goes on.
TEST_F(StartUpConfig, DirectoryRecord5001AfterOtherRecordsIsTheOneUsed) {
  const std::string host = TestPaths().configHost;
  Given().InstalledClient(1000)
         .ServerFileCopy(kProgramConfig, "/Chosen/ULProgram.cfg")
         .Fault(kProgramConfig, "status", "status=404")
         .ServerFile(kDirectoryFile,
                     "; configuration servers\n"
                     "5000\n127.0.0.254\n80\n/Chosen/ULProgram.cfg\n"
                     "5002\n" + host + "\n80\n/Wrong/5002.cfg\n"
                     "; ours\n"
                     "5001\n" + host + "\n80\n/Chosen/ULProgram.cfg\n"
                     "5001\n" + host + "\n80\n/Wrong/second5001.cfg\n");
  Run(LaunchArg(2));
  ExpectRequested("/Chosen/ULProgram.cfg");
  ExpectNotRequested("/Wrong/5002.cfg");
  ExpectNotRequested("/Wrong/second5001.cfg");
  ExpectNotRequested(kProgramConfig);
  ExpectRequested(kHashList);
  ExpectRequested(kUpdateList);
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// A good set of files: the three are read in order, the update sequence
// runs and the progress dialog is on screen while a slow file comes in.
TEST_F(StartUpConfig, GoodFilesLeadToTheProgressDialog) {
  Given().InstalledClient(1000)
         .PublishedFile("slow.dat", std::string(48000, 'p'))
         .Release("version 1001 slow.dat")
         .Fault("/Ulmet3/files/slow.dat", "trickle", "bytes=12000 interval_ms=500");
  Run(LaunchArg(2));
  std::vector<std::string> first;
  for (const auto& r : Requests()) {
    if (first.size() < 3) first.push_back(r.at("path"));
  }
  EXPECT_EQ(first, (std::vector<std::string>{kDirectoryFile, kProgramConfig, kHashList}));
  ExpectTrace("CheckFirstRun CFR_ID_NO_FIRST");
  ExpectNoBox();
  EXPECT_EQ(DialogShownCount(), 1) << "see " << OutputDir();
  EXPECT_TRUE(std::filesystem::exists(OutputDir() + "/dialog-1.png")) << "no screenshot of the dialog";
  ExpectClientFile("slow.dat", std::string(48000, 'p'));
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  std::vector<std::string> left = TempLeftovers({"global.cfg_", "ULProgram.cfg_", "ULHashFile.dat_", "UpdateList.dat_"});
  EXPECT_TRUE(left.empty()) << "left in the Windows Temp folder: " << Join(left);
}

}  // namespace
}  // namespace scn
