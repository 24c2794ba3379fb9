// Reads and writes beyond 4 GiB in this 32-bit process, on a sparse file of
// 5 GiB (the system allocates only the pieces written).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "file_support.h"
#include "net/offset_file_win.h"

namespace {

TEST(OffsetFile, ReadsAndWritesPastFourGigabytesAndKeepsWritersOut) {
  const std::string folder = filesupport::FreshFolder("offset");
  const std::string path = folder + "\\big.part";
  const uint64_t four = uint64_t{1} << 32, size = 5 * (uint64_t{1} << 30) + 10;
  struct Piece {
    uint64_t at;
    std::string bytes;
  } pieces[] = {{four - 2, "wxyz"}, {size - 8, "abcdefgh"}, {0, "start"}};
  {
    ul::OffsetFile f;
    ASSERT_TRUE(f.Open(path.c_str(), true));
    ASSERT_TRUE(f.SetSize(size));
    for (const Piece& p : pieces) EXPECT_TRUE(f.WriteAt(p.at, p.bytes.data(), static_cast<uint32_t>(p.bytes.size())));
    // Shared with readers only: no second writer while it is open.
    ul::OffsetFile other;
    EXPECT_FALSE(other.Open(path.c_str(), true));
    EXPECT_EQ(other.error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  ul::OffsetFile f;
  ASSERT_TRUE(f.Open(path.c_str(), false));
  uint64_t got = 0;
  ASSERT_TRUE(f.Size(&got));
  EXPECT_EQ(got, size);
  for (const Piece& p : pieces) {
    std::string back(p.bytes.size(), '\0');
    EXPECT_TRUE(f.ReadAt(p.at, &back[0], static_cast<uint32_t>(back.size())));
    EXPECT_EQ(back, p.bytes) << p.at;
  }
  char past[4];
  EXPECT_FALSE(f.ReadAt(size - 2, past, sizeof past)) << "a read beyond the end";
  ul::OffsetFile missing;
  EXPECT_FALSE(missing.Open((folder + "\\none").c_str(), false));
  EXPECT_EQ(missing.error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  f.Close();
  filesupport::RemoveFolder(folder);
}

}  // namespace
