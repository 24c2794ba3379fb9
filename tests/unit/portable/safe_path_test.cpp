#include "common/safe_path.h"

#include <gtest/gtest.h>

namespace {

TEST(SafePath, RelativeNamesInsideTheFolder) {
  for (const char* ok : {"a.dll", "data\\pack.zip", "data/pack.zip", ".\\x", "a..b", "..a",
                         "a\\..b\\c", "\xB1\xDB\\\xC7\xD1.dat", "a\\\\b", "dir\\"}) {
    EXPECT_TRUE(ul::IsSafeRelativePath(ok)) << ok;
  }
  for (const char* bad : {"", "\\abs", "/abs", "\\\\server\\share", "C:\\Windows", "C:x", "a:b",
                          "..", "..\\x", "../x", "a\\..", "a/../../b", "a\\..\\b", "...",
                          ".. \\x", "a\\. .\\b"}) {
    EXPECT_FALSE(ul::IsSafeRelativePath(bad)) << bad;
  }
  EXPECT_FALSE(ul::IsSafeRelativePath(nullptr));
}

TEST(SafePath, FolderSuffixes) {
  for (const char* ok : {"", "\\", "data\\", "\\data\\", ".\\"}) {
    EXPECT_TRUE(ul::StaysInsideFolder(ok)) << ok;
  }
  for (const char* bad : {"..\\", "\\..\\", "a\\..\\..\\", "C:\\", "x:"}) {
    EXPECT_FALSE(ul::StaysInsideFolder(bad)) << bad;
  }
}

}  // namespace
