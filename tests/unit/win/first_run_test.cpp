// The first-run check against Wine's registry and real folders.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "config/registry_win.h"
#include "file_support.h"
#include "run/main_dlg.h"
#include "run_support.h"

namespace {

const char kKey[] = "Software\\UlmetTest\\FirstRun";

void RemoveKey(int hive) { DeleteKeyTree("Software\\UlmetTest", "FirstRun", hive); }

void RemoveValue(HKEY hive, const char* name) {
  HKEY key;
  if (RegOpenKeyA(hive, kKey, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveKey(1);
    ul::Copy(config_.program.clientRegistryKey, kKey);
    ul::Copy(config_.program.updaterPathValueName, "PatchPath");
    config_.program.registryHive = 1;
    folder_ = filesupport::FreshFolder("firstrun");
  }
  void TearDown() override {
    RemoveKey(1);
    filesupport::RemoveFolder(folder_);
  }
  void Set(const char* name, const std::string& value) {
    WriteRegistryString(kKey, name, value.c_str(), 1);
  }
  // A complete installation: every step of the check passes.
  void Install() {
    Set("PatchPath", folder_);
    Set("MainPath", folder_);
    filesupport::WriteBytes(folder_ + "\\UlmetMain.exe", "MZ");
    Set("AppVersion", "4012");
  }

  UpdateConfig config_;
  runsupport::TestApp app_{&config_};
  CULPatchwellDlg dlg_;
  std::string folder_;
};

TEST_F(FirstRunTest, CompleteInstallationIsANormalUpdate) {
  Install();
  EXPECT_EQ(dlg_.CheckFirstRun(), 0);
  EXPECT_EQ(config_.majorUpdatePending, 0);
  EXPECT_EQ(config_.installedVersion, 4012);
  EXPECT_EQ(std::string(config_.clientFolder), folder_ + "\\");
  EXPECT_EQ(std::string(config_.updaterFolder), folder_);
}

TEST_F(FirstRunTest, EachMissingStepHasItsNumberAndStopsThere) {
  // 1: no updater folder value at all.
  EXPECT_EQ(dlg_.CheckFirstRun(), 1);
  EXPECT_EQ(config_.majorUpdatePending, 1);
  EXPECT_STREQ(config_.clientFolder, "");

  // 2: the updater folder does not exist.
  config_.majorUpdatePending = 0;
  Set("PatchPath", folder_ + "\\gone");
  EXPECT_EQ(dlg_.CheckFirstRun(), 2);
  EXPECT_EQ(config_.majorUpdatePending, 1);
  EXPECT_STREQ(config_.clientFolder, "");

  // 3: "MainPath" present but empty counts as missing.
  Set("PatchPath", folder_);
  Set("MainPath", "");
  EXPECT_EQ(dlg_.CheckFirstRun(), 3);

  // 4: the client folder lacks its main module, even with a valid version.
  Set("MainPath", folder_);
  Set("AppVersion", "4012");
  EXPECT_EQ(dlg_.CheckFirstRun(), 4);
  EXPECT_EQ(config_.installedVersion, 1000);

  // 5: no version; the initial version stays.
  filesupport::WriteBytes(folder_ + "\\UlmetMain.exe", "MZ");
  RemoveValue(HKEY_CURRENT_USER, "AppVersion");
  EXPECT_EQ(dlg_.CheckFirstRun(), 5);
  EXPECT_EQ(config_.installedVersion, 1000);
}

TEST_F(FirstRunTest, ClientFolderEndsInExactlyOneBackslash) {
  Install();
  Set("MainPath", folder_ + "\\");
  EXPECT_EQ(dlg_.CheckFirstRun(), 0);
  EXPECT_EQ(std::string(config_.clientFolder), folder_ + "\\");
}

TEST_F(FirstRunTest, VersionIsReadAsANumberAndPercentSignsStayText) {
  Install();
  Set("AppVersion", "abc");
  EXPECT_EQ(dlg_.CheckFirstRun(), 0);
  EXPECT_EQ(config_.installedVersion, 0);

  std::string odd = folder_ + "\\100%s%d";
  CreateDirectoryA(odd.c_str(), nullptr);
  Set("PatchPath", odd);
  EXPECT_EQ(dlg_.CheckFirstRun(), 0);
  EXPECT_EQ(std::string(config_.updaterFolder), odd);
}

TEST_F(FirstRunTest, OverLongFolderValueIsCutBeforeTheExistenceTest) {
  Install();
  std::string longValue = folder_ + "\\" + std::string(1500, 'd');
  Set("PatchPath", longValue);
  EXPECT_EQ(dlg_.CheckFirstRun(), 2);
  EXPECT_EQ(std::string(config_.updaterFolder), longValue.substr(0, 1024));
}

TEST_F(FirstRunTest, MachineHiveIsReadWhenTheConfigurationSaysSo) {
  config_.program.registryHive = 2;
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  WriteRegistryString(kKey, "PatchPath", folder_.c_str(), 2);
  Install();  // the same values in the user's hive must not be used
  RemoveValue(HKEY_LOCAL_MACHINE, "MainPath");
  EXPECT_EQ(dlg_.CheckFirstRun(), 3);
  RemoveKey(2);
}

}  // namespace
