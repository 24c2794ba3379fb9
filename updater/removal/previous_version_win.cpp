// Removal of an earlier major version of the client: its user data is
// carried over, its registry keys are cleaned and its uninstaller started.
#include <windows.h>
#include <io.h>

#include <cstring>
#include <string>

#include "formats/base/bounded.h"
#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "files/dir_tree_win.h"
#include "common/program_start_win.h"
#include "removal/data_folder.h"
#include "removal/previous_version_win.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"

namespace {
const char kNotice[] =
    "울메4.0을 설치하기 위해서 이전 버전을 삭제합니다.\r\n\"확인\"버튼을 누르시면 삭제 작업이 "
    "진행됩니다.\r\n\r\n이전 버전 삭제 완료 후 울메를 다시 실행하세요.";

// "%s\%s", or "%s%s" when the first part already ends in a backslash.
void JoinPath(char (&out)[ul::kTextCap], const char* first, const char* second) {
  size_t len = std::strlen(first);
  if (len > 0 && first[len - 1] == '\\')
    ul::Format(out, "%s%s", first, second);
  else
    ul::Format(out, "%s\\%s", first, second);
}

// An earlier installation counts only when both its folders exist.
bool FindPlace(const char* key, char (&mainPath)[ul::kTextCap]) {
  std::string main = ReadRegistryText(key, "MainPath", false);
  std::string start = ReadRegistryText(key, "StartPath", false);
  ul::Copy(mainPath, main.c_str());
  return !main.empty() && !start.empty() && _access(main.c_str(), 0) != -1 &&
         _access(start.c_str(), 0) != -1;
}
}  // namespace

int RemoveEarlierVersion(const UpdateConfig& cfg) {
  // The user data goes into the current installation. A per-user
  // installation (and one moved to the current user on Vista) has no
  // "MainPath" in the machine key; then the client folder of this run is
  // the installation. An empty or root folder would put "UserData" at the
  // root of a drive, so such a folder is never used.
  std::string newMain = ReadRegistryText(cfg.program.clientRegistryKey, "MainPath", false);
  if (!ul::IsBelowRoot(newMain.c_str())) newMain = cfg.clientFolder;
  char newData[ul::kTextCap] = {0};
  if (ul::IsBelowRoot(newMain.c_str())) {
    JoinPath(newData, newMain.c_str(), "UserData");
    CreateFolderTree(newData);
  } else {
    DebugTrace("RemovePreviousVersion: no installation folder for the user data (\"%s\")",
               newMain.c_str());
  }

  char uninstaller[ul::kTextCap] = {0};
  char oldMain[ul::kTextCap];
  bool firstFound = FindPlace(cfg.program.registryNewPath, oldMain);
  if (firstFound) {
    JoinPath(uninstaller, oldMain, "uninstall.exe");
    if (newData[0] != '\0') CopyUserData(newData, oldMain);
  }
  bool secondFound = FindPlace(cfg.program.registryPath, oldMain);
  if (secondFound) {
    if (uninstaller[0] == '\0') JoinPath(uninstaller, oldMain, "uninstall.exe");
    if (!firstFound && newData[0] != '\0') CopyUserData(newData, oldMain);
  }
  if (!firstFound && !secondFound) return 1;

  if (RegistryKeyExists("Software\\ULMET3", nullptr, 2)) DeleteKeyTree("Software", "ULMET3", 2);
  if (RegistryKeyExists("Software\\Zolte\\ULMET3", nullptr, 2))
    DeleteKeyTree("Software", "Zolte\\ULMET3", 2);
  bool copied = false;
  if (RegistryKeyExists("Software\\ULMET3", nullptr, 1)) {
    CopyKey("Software", "ULMET3", 1);
    copied = true;
    DeleteKeyTree("Software", "ULMET3", 1);
  }
  if (RegistryKeyExists("Software\\Zolte\\ULMET3", nullptr, 1)) {
    if (!copied) CopyKey("Software\\Zolte", "ULMET3", 1);
    DeleteKeyTree("Software\\Zolte", "ULMET3", 1);
  }

  ShowMessageBox(ul::kBoxInformation, kNotice);

  if (uninstaller[0] != '\0' && _access(uninstaller, 0) != -1) StartProgram(uninstaller, uninstaller);
  return 0;
}
