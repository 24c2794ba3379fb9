// First-run check: is the client installed well enough to be updated file by
// file? Any gap turns the run into a full installation.
#include <io.h>

#include <cstdlib>
#include <cstring>

#include "formats/base/bounded.h"
#include "common/trace.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "run/main_dlg.h"

namespace {
enum {
  CFR_ID_NO_FIRST = 0,
  CFR_ID_FAIL_READ_PTWL_PATH = 1,
  CFR_ID_FAIL_ACCS_PTWL_PATH = 2,
  CFR_ID_FAIL_READ_MAIN_PATH = 3,
  CFR_ID_FAIL_ACCS_MAIN_MODL = 4,
  CFR_ID_FAIL_READ_APP_VER = 5,
};

// A read counts only when it succeeds and the text is not empty. With a
// release key, a configuration that names no existing key leaves no
// installation to find (the empty key would read the hive's own values).
bool ReadValue(const UpdateConfig& cfg, const char* name, char (&value)[ul::kTextCap]) {
  value[0] = '\0';
  if (cfg.release != nullptr && cfg.program.clientRegistryKey[0] == '\0') return false;
  return ReadRegistryString(cfg.program.clientRegistryKey, name, value, cfg.program.registryHive) &&
         value[0] != '\0';
}

int Fail(UpdateConfig& cfg, int code, const char* name) {
  cfg.majorUpdatePending = 1;
  DebugTrace("CheckFirstRun %s", name);
  return code;
}
}  // namespace

int CULPatchwellDlg::CheckFirstRun() {
  UpdateConfig& cfg = *GetConfig();
  char value[ul::kTextCap];

  if (!ReadValue(cfg, cfg.program.updaterPathValueName, value))
    return Fail(cfg, CFR_ID_FAIL_READ_PTWL_PATH, "CFR_ID_FAIL_READ_PTWL_PATH");
  ul::Copy(cfg.updaterFolder, value);
  DebugTrace("CheckFirstRun keyval = %s, supath = %s", value, cfg.updaterFolder);
  if (_access(cfg.updaterFolder, 0) == -1)
    return Fail(cfg, CFR_ID_FAIL_ACCS_PTWL_PATH, "CFR_ID_FAIL_ACCS_PTWL_PATH");

  if (!ReadValue(cfg, "MainPath", value))
    return Fail(cfg, CFR_ID_FAIL_READ_MAIN_PATH, "CFR_ID_FAIL_READ_MAIN_PATH");
  ul::Copy(cfg.clientFolder, value);
  size_t len = std::strlen(cfg.clientFolder);
  if (len == 0 || cfg.clientFolder[len - 1] != '\\') ul::Append(cfg.clientFolder, "\\");

  char mainModule[ul::kTextCap];
  ul::Format(mainModule, "%s%s", cfg.clientFolder, "UlmetMain.exe");
  if (_access(mainModule, 0) == -1)
    return Fail(cfg, CFR_ID_FAIL_ACCS_MAIN_MODL, "CFR_ID_FAIL_ACCS_MAIN_MODL");

  if (!ReadValue(cfg, "AppVersion", value))
    return Fail(cfg, CFR_ID_FAIL_READ_APP_VER, "CFR_ID_FAIL_READ_APP_VER");
  cfg.installedVersion = std::atoi(value);
  DebugTrace("CheckFirstRun CFR_ID_NO_FIRST");
  return CFR_ID_NO_FIRST;
}
