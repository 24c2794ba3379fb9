// The programs a run starts are the ones it names, whatever else lies on
// Windows' way to them: the client in a folder whose path holds a blank,
// and the system's own regsvr32 while the client folder, where a release's
// files land, holds one of the same name.
#include <filesystem>

#include "harness/scenario.h"

namespace scn {
namespace {

using ProgramStart = Scenario;

TEST_F(ProgramStart, ClientInAFolderWithABlankStartsByItsFullPath) {
  Given().ClientFolderAt("C:\\Program Files\\Ulmet\\").InstalledClient(1000).OutsideProgram("C:\\Program.exe");
  struct Planted {
    std::string path;
    ~Planted() {
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  } planted{UnixPath("C:\\Program.exe")};
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectNothingStartedBut({"UlmetMain.exe"});
  ExpectStarted("UlmetMain.exe", "C:\\Program Files\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

TEST_F(ProgramStart, RegistrarInTheClientFolderIsNeverStarted) {
  Given().InstalledClient(1000)
         .ClientProgram("regsvr32.exe")
         .RegistryKeyRemoved("HKCR\\Brevix.Quillet")
         .Release("file bvx.dll " + TestPaths().winBin + "/bvx.dll")
         .Release("version 1001 bvx.dll");
  Run(LaunchArg(2));
  ExpectTrace("regsvr32 -s \"C:\\Ulmet\\bvx.dll\"");
  ExpectNothingStartedBut({"UlmetMain.exe"});
  EXPECT_TRUE(RegistryKeyExists("HKCR\\Brevix.Quillet")) << "registered by the system's regsvr32";
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1001");
}

}  // namespace
}  // namespace scn
