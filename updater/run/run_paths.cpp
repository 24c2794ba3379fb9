#include "run/run_paths.h"

#include <windows.h>

#include <string>

#include "files/reparse_points_win.h"
#include "formats/base/safe_path.h"
#include "common/trace.h"
#include "net/temp_fetch_win.h"
#include "formats/lists/hash_list.h"
#include "config/update_config.h"
#include "run/main_dlg.h"

bool ClientPath(const char* name, char (&out)[ul::kPathCap], const char** relative) {
  const UpdateConfig& config = *GetConfig();
  std::size_t folderLength = 0;
  if (!ul::ResolveInsideFolder(config.clientFolder, name, out, &folderLength)) {
    DebugTrace("Refused path outside the client folder : %s", name);
    return false;
  }
  // With a release key nothing goes through a junction or link planted in
  // the client folder: the path must stay where the gate put it.
  if (config.release != nullptr && CrossesReparsePoint(std::string(out, folderLength).c_str(), out)) {
    DebugTrace("Refused path through a reparse point : %s", out);
    return false;
  }
  if (relative != nullptr) *relative = out + folderLength;
  return true;
}

bool ClientPath(const char* name, char (&out)[ul::kPathCap]) {
  return ClientPath(name, out, nullptr);
}

bool HashEntryPath(const HashEntry& e, char (&out)[ul::kPathCap], const char** relative) {
  char joined[ul::kTextCap];
  HashEntryName(e, joined);
  return ClientPath(joined, out, relative);
}

bool InstallerPath(char (&out)[ul::kPathCap]) {
  char temp[ul::kTextCap];
  return TempFolder(temp) && ul::ResolveInsideFolder(temp, kInstallerName, out);
}
