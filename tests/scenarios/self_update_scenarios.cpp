// The updater's own new copy: it replaces itself and hands the run on, or,
// when the replacement fails, starts the follow-up program.
#include "harness/scenario.h"

namespace scn {
namespace {

using SelfUpdate = Scenario;

TEST_F(SelfUpdate, NewCopyReplacesTheRunningUpdaterAndTheNewOneLaunchesTheClient) {
  Given().InstalledClient(1000)
         .Release("file Ulmet.ex_ " + TestPaths().winBin + "/Ulmet.exe")
         .Release("version 1001 Ulmet.ex_");
  Run(LaunchArg(2));
  ExpectRequested("/Ulmet3/files/Ulmet.ex_");
  ExpectTrace("SelfUpdate");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  // The new copy stands as Ulmet.exe; its own run removes the old copy and
  // finds nothing newer, so it starts the client.
  EXPECT_TRUE(ClientFileExists("Ulmet.exe"));
  ExpectNoClientFile("Ulmet.ex_");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  ExpectNothingStartedBut({"UlmetMain.exe"});
}

TEST_F(SelfUpdate, FailedReplacementStartsTheFollowUpProgram) {
  // A folder named like the old copy's parking name makes the first rename
  // fail, and the leftover clean-up cannot delete a folder.
  Given().InstalledClient(1000)
         .ClientFile("Ulmet.e__\\keep.txt", "blocks the rename")
         .ClientProgram("Update3.exe")
         .PublishedFile("later.dll", "not reached")
         .Release("file Ulmet.ex_ " + TestPaths().winBin + "/Ulmet.exe")
         .Release("version 1001 Ulmet.ex_ later.dll");
  Run(LaunchArg(2));
  ExpectTrace("SelfUpdate Rename failed.");
  ExpectStarted("Update3.exe", "C:\\Ulmet\\Update3.exe " + QuotedArg(LaunchArg(2)));
  ExpectNotRequested("/Ulmet3/files/later.dll");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
  EXPECT_TRUE(ClientFileExists("Ulmet.ex_")) << "the new copy waits for the next run";
}

}  // namespace
}  // namespace scn
