// Which installation folders may receive an earlier version's user data:
// nothing may ever be created at the root of a drive or share.
#include <gtest/gtest.h>

#include "removal/data_folder.h"

namespace {

TEST(DataFolder, OnlyFoldersBelowARootQualify) {
  struct Case {
    const char* folder;
    bool below;
  } cases[] = {
      {"C:\\Ulmet\\", true},
      {"C:\\Ulmet", true},
      {"c:/Program Files/Ulmet", true},
      {"D:\\Games\\..\\Ulmet\\.\\", true},
      {"\\\\host\\share\\Ulmet", true},
      {"C:\\\xBF\xEF\xB8\xDE\\", true},  // Hangul in code page 949
      {"C:\\...x\\", true},                // not only dots: a real name
      {"", false},
      {"\\", false},
      {"/", false},
      {"\\UserData", false},  // rooted on whatever drive is current
      {"Ulmet\\", false},
      {"C:", false},
      {"C:\\", false},
      {"C:/", false},
      {"C:Ulmet", false},
      {"C:\\\\.\\", false},
      {"C:\\Ulmet\\..", false},
      {"C:\\Ulmet\\..\\", false},
      {"C:\\Ulmet\\. .\\", false},
      {"C:\\Ulmet\\...\\", false},
      {"C:\\a\\b\\..\\..\\", false},
      {"C:\\ \\", false},
      {"\\\\host", false},
      {"\\\\host\\", false},
      {"\\\\host\\share", false},
      {"\\\\host\\share\\", false},
      {"\\\\\\share\\x", false},
      {"\\\\?\\C:\\Ulmet", false},
      {"\\\\.\\C:\\Ulmet", false},
      {"C:\\Ulmet\\data:stream", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ul::IsBelowRoot(c.folder), c.below) << c.folder;
  EXPECT_FALSE(ul::IsBelowRoot(nullptr));
}

}  // namespace
