// The update sequence's decisions, one path each: maintenance, the first-run
// check's results, a running client, a full installation asked for by the
// list, nothing to update; and the rule that every box of the sequence is
// closed before the progress dialog first comes on screen.
#include <filesystem>
#include <string>
#include <vector>

#include "harness/scenario.h"

namespace scn {
namespace {

const char kUpdateList[] = "/Ulmet3/UpdateList.dat";
const char kInstaller[] = "/Ulmet3/Ulmet_install.exe";
const char kInstallerCopy[] = "C:\\windows\\Temp\\UL3_Install.ex_";
const char kClientRunningText[] =
    "울메가 새로운 버전으로 업데이트 되었습니다.\n현재 실행중인 울메를 종료하시고 다시 실행해 주시기 바랍니다.";

std::string InstallBox(int result) { return "울메 설치를 시작합니다.(#" + std::to_string(result) + ")"; }

class Sequence : public Scenario {
 protected:
  // No update file was fetched.
  void ExpectNoUpdateFileRequested() {
    for (const auto& r : Requests())
      EXPECT_NE(r.at("path").rfind("/Ulmet3/files/", 0), 0u) << "update file fetched: " << r.at("path");
  }

  // The full installer was fetched into the Windows Temp folder and started
  // from there with the launch argument in quotes, and nothing else ran.
  void ExpectInstallerStarted(const std::string& argument) {
    ExpectRequested(kInstaller);
    auto starts = Starts();
    ASSERT_EQ(starts.size(), 1u) << "one program is started; see " << OutputDir() << "/summary.txt";
    EXPECT_EQ(starts[0].at("program"), "UL3_Install.ex_");
    EXPECT_EQ(starts[0].at("command_line"), std::string(kInstallerCopy) + " " + QuotedArg(argument));
    EXPECT_TRUE(std::filesystem::exists(UnixPath("C:\\windows\\temp\\UL3_Install.ex_")));
  }

  // A failed first-run check: its box alone, while the dialog is not yet on
  // screen, then the installer instead of the update list.
  void ExpectInstallationAfterFirstRun(int result, const std::string& traceName) {
    ExpectTrace("CheckFirstRun " + traceName);
    ExpectBoxes({InstallBox(result)});
    ExpectBox(InstallBox(result), "정보");
    for (const auto& b : Boxes()) EXPECT_FALSE(b.dialogVisible) << "the box came over the dialog";
    ExpectNotRequested(kUpdateList);
    ExpectNoUpdateFileRequested();
    ExpectInstallerStarted(LaunchArg(2));
  }

  // Maintenance: the notice page only, before the first-run check.
  void ExpectMaintenanceOnly(const std::string& notice) {
    EXPECT_EQ(Pages(), std::vector<std::string>{notice});
    ExpectNoTrace("CheckFirstRun");
    ExpectNoBox();
    ExpectNothingStarted();
    EXPECT_EQ(DialogShownCount(), 0) << "the progress dialog came on screen";
    ExpectNotRequested(kUpdateList);
    ExpectNotRequested(kInstaller);
    ExpectEndedWithin(20);
  }
};

// Maintenance wins over everything after it: on a machine without any
// installation data the first-run check would show its box; it never runs.
TEST_F(Sequence, RegularMaintenanceOpensTheNoticeBeforeAnyFirstRunCheck) {
  Given().Release("set CHECKUP 1")
         .Release("set CHECKUPNOTICE http://127.0.0.1/notice/regular.html")
         .Release("installer " + StandInProgram())
         .TimeLimit(30);
  Run(LaunchArg(2));
  ExpectMaintenanceOnly("http://127.0.0.1/notice/regular.html");
}

TEST_F(Sequence, TemporaryMaintenanceLeavesPendingEntriesAlone) {
  Given().InstalledClient(1000)
         .ClientFile("a.dll", "a v0")
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll")
         .Release("set CHECKUP 2")
         .Release("set CHECKUPNOTICE http://127.0.0.1/notice/temporary.html")
         .TimeLimit(30);
  Run(LaunchArg(2));
  ExpectMaintenanceOnly("http://127.0.0.1/notice/temporary.html");
  ExpectNoUpdateFileRequested();
  ExpectClientFile("a.dll", "a v0");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

// The notice address comes from the server: a local program there is
// neither opened nor started, and nothing else happens either.
TEST_F(Sequence, MaintenanceNoticeThatIsNoWebAddressIsNotOpened) {
  Given().InstalledClient(1000)
         .OutsideProgram("C:\\Notice\\notice.exe")
         .Release("set CHECKUP 1")
         .Release("set CHECKUPNOTICE C:\\Notice\\notice.exe")
         .TimeLimit(30);
  Run(LaunchArg(2));
  ExpectTrace("notice address is not a web address, not opened: C:\\Notice\\notice.exe");
  ExpectNoPageOpened();
  ExpectNothingStarted();
  ExpectNoBox();
  ExpectNotRequested(kUpdateList);
  ExpectEndedWithin(20);
}

// No installation data at all: result 1. The argument of a launch kind with
// a token reaches the installer whole.
TEST_F(Sequence, FreshMachineStartsTheInstallerFromTheTempFolder) {
  Given().Release("installer " + StandInProgram());
  Run(LaunchArg(1, "tok"));
  ExpectTrace("CheckFirstRun CFR_ID_FAIL_READ_PTWL_PATH");
  ExpectBoxes({InstallBox(1)});
  ExpectBox(InstallBox(1), "정보");
  ExpectNotRequested(kUpdateList);
  ExpectInstallerStarted(LaunchArg(1, "tok"));
}

TEST_F(Sequence, UpdaterFolderMissingOnDiskGivesInstallation2) {
  Given().InstalledClient(1000)
         .Registry("HKLM\\Software\\ULMET", "PatchPath", "C:\\NoSuchUpdaterFolder")
         .Release("installer " + StandInProgram());
  Run(LaunchArg(2));
  ExpectInstallationAfterFirstRun(2, "CFR_ID_FAIL_ACCS_PTWL_PATH");
}

TEST_F(Sequence, ClientFolderValueMissingGivesInstallation3) {
  Given().Registry("HKLM\\Software\\ULMET", "PatchPath", "C:\\Ulmet")
         .Registry("HKLM\\Software\\ULMET", "AppVersion", "1000")
         .ClientProgram("UlmetMain.exe")
         .Release("installer " + StandInProgram());
  Run(LaunchArg(2));
  ExpectInstallationAfterFirstRun(3, "CFR_ID_FAIL_READ_MAIN_PATH");
}

TEST_F(Sequence, ClientModuleMissingGivesInstallation4) {
  Given().InstalledClient(1000).NoClientModule().Release("installer " + StandInProgram());
  Run(LaunchArg(2));
  ExpectInstallationAfterFirstRun(4, "CFR_ID_FAIL_ACCS_MAIN_MODL");
}

TEST_F(Sequence, InstalledVersionMissingGivesInstallation5) {
  Given().Registry("HKLM\\Software\\ULMET", "PatchPath", "C:\\Ulmet")
         .Registry("HKLM\\Software\\ULMET", "MainPath", "C:\\Ulmet\\")
         .ClientProgram("UlmetMain.exe")
         .Release("installer " + StandInProgram());
  Run(LaunchArg(2));
  ExpectInstallationAfterFirstRun(5, "CFR_ID_FAIL_READ_APP_VER");
}

// Files in use cannot be replaced: with the client running, entries that
// would change, delete and add files leave everything as it was.
TEST_F(Sequence, RunningClientLeavesEveryPendingEntryUndone) {
  Given().InstalledClient(1000).ClientRunning()
         .ClientFile("a.dll", "a v0")
         .ClientFile("old.dll", "to be deleted")
         .PublishedFile("a.dll", "a v1")
         .PublishedFile("b.dat", "new file")
         .Release("version 1001 a.dll -old.dll")
         .Release("version 1002 b.dat");
  Run(LaunchArg(2));
  ExpectBoxes({kClientRunningText});
  ExpectBox(kClientRunningText, "오류");
  EXPECT_EQ(DialogShownCount(), 0) << "the progress dialog came on screen";
  ExpectNoUpdateFileRequested();
  ExpectClientFile("a.dll", "a v0");
  ExpectClientFile("old.dll", "to be deleted");
  ExpectNoClientFile("b.dat");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
  ExpectNothingStarted();
}

// A list line naming the full installer turns the run into an installation,
// which a running client does not stop; the other names of the list are not
// fetched.
TEST_F(Sequence, FullInstallationFromTheListWinsOverARunningClient) {
  Given().InstalledClient(1000).ClientRunning()
         .ClientFile("a.dll", "a v0")
         .PublishedFile("a.dll", "a v1")
         .Release("installer " + StandInProgram())
         .Release("version 1001 a.dll Ulmet_install.exe");
  Run(LaunchArg(2));
  ExpectTrace("MajorUpdate");
  ExpectNoBox();
  ExpectNoUpdateFileRequested();
  ExpectInstallerStarted(LaunchArg(2));
  ExpectClientFile("a.dll", "a v0");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

// Nothing newer than the installed version: the launch step runs straight
// from the sequence, inside the dialog's initialisation, so no worker runs and
// the dialog never comes on screen; a running client is started once more.
TEST_F(Sequence, NothingToUpdateLaunchesAtOnceEvenWhileTheClientRuns) {
  Given().InstalledClient(1001).ClientRunning()
         .ClientFile("a.dll", "a v1")
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(4, "tok"));
  ExpectRequested(kUpdateList);
  ExpectNoBox();
  ExpectNoUpdateFileRequested();
  EXPECT_EQ(DialogShownCount(), 0) << "the progress dialog came on screen";
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u) << "see " << OutputDir() << "/summary.txt";
  EXPECT_EQ(starts[0].at("command_line"), "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(4, "tok")));
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  ExpectEndedWithin(20);
}

// The order on screen: the first-run box is up while the dialog is not yet
// visible; the dialog appears only after the box is closed, and stays while
// the (delayed) installer comes in. The screenshots box-1.png and
// dialog-1.png show the two moments.
TEST_F(Sequence, BoxIsClosedBeforeTheDialogAppears) {
  Given().NoClientModule()
         .InstalledClient(1000)
         .Release("installer " + StandInProgram())
         .Fault(kInstaller, "delay", "delay_ms=2500");
  Run(LaunchArg(2));
  EXPECT_EQ(ScreenOrder(), (std::vector<std::string>{"box:" + InstallBox(4), "dialog"}));
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].dialogVisible) << "the dialog was on screen with the box";
  EXPECT_TRUE(std::filesystem::exists(OutputDir() + "/box-1.png"));
  EXPECT_TRUE(std::filesystem::exists(OutputDir() + "/dialog-1.png"));
  ExpectInstallerStarted(LaunchArg(2));
}

}  // namespace
}  // namespace scn
