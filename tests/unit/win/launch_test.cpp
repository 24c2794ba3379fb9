// The updater's self-replacement on real files: whatever happens to the new
// copy, the running updater's name ends up holding a whole updater.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "file_support.h"
#include "run/main_dlg.h"
#include "run_support.h"

namespace {

using filesupport::Exists;
using filesupport::HasBytes;

class ReplaceSelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = filesupport::FreshFolder("replaceself");
    ul::Copy(config_.clientFolder, (folder_ + "\\").c_str());
    filesupport::WriteBytes(At("Ulmet.exe"), kOld);
  }
  void TearDown() override {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    filesupport::RemoveFolder(folder_);
  }
  std::string At(const char* name) const { return folder_ + "\\" + name; }
  // Open for reading without letting others delete or rename it.
  void Hold(const char* name) {
    held_ = CreateFileA(At(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    ASSERT_NE(held_, INVALID_HANDLE_VALUE);
  }

  const std::string kOld = filesupport::Pattern(5000, 1);
  const std::string kNew = filesupport::Pattern(6000, 2);
  UpdateConfig config_;
  runsupport::TestApp app_{&config_};
  CULPatchwellDlg dlg_;
  std::string folder_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

TEST_F(ReplaceSelfTest, NewCopyTakesTheNameAndTheOldOneStepsAside) {
  filesupport::WriteBytes(At("Ulmet.ex_"), kNew);
  EXPECT_TRUE(dlg_.ReplaceSelf());
  EXPECT_TRUE(HasBytes(At("Ulmet.exe"), kNew));
  EXPECT_TRUE(HasBytes(At("Ulmet.e__"), kOld));
  EXPECT_FALSE(Exists(At("Ulmet.ex_")));
}

// The second rename fails: the old updater must get its name back.
TEST_F(ReplaceSelfTest, OldCopyIsPutBackWhenTheNewCopyCannotTakeTheName) {
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "new copy held open" : "new copy missing");
    if (held) {
      filesupport::WriteBytes(At("Ulmet.ex_"), kNew);
      Hold("Ulmet.ex_");
    }
    EXPECT_FALSE(dlg_.ReplaceSelf());
    EXPECT_TRUE(HasBytes(At("Ulmet.exe"), kOld));
    EXPECT_FALSE(Exists(At("Ulmet.e__")));
  }
}

TEST_F(ReplaceSelfTest, LeftoverOldCopyChangesNothing) {
  filesupport::WriteBytes(At("Ulmet.ex_"), kNew);
  filesupport::WriteBytes(At("Ulmet.e__"), "leftover");
  EXPECT_FALSE(dlg_.ReplaceSelf());
  EXPECT_TRUE(HasBytes(At("Ulmet.exe"), kOld));
  EXPECT_TRUE(HasBytes(At("Ulmet.ex_"), kNew));
}

}  // namespace
