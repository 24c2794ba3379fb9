// Reads and writes beyond 4 GiB in this 32-bit process, on a sparse file of
// 5 GiB (the system allocates only the pieces written); and the chunks of an
// installed copy read through it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_support.h"
#include "formats/chunks/chunk_index.h"
#include "formats/chunks/resume_journal.h"
#include "net/installed_chunks_win.h"
#include "net/journal_file_win.h"
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

// The updater cuts its installed copy with the publisher's own builder: on
// the same bytes both give the same chunks, or every changed big file would
// travel whole. The bytes hold runs without a natural cut (zeros, to the
// largest chunk) between random stretches, and end inside a chunk.
TEST(InstalledChunks, AreThePublishersChunksOfTheSameBytes) {
  std::string bytes;
  uint32_t x = 2463534242u;
  for (std::size_t part = 0; part < 6; ++part) {
    const std::size_t random = (part + 1) * 300000;
    for (std::size_t i = 0; i < random; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      bytes.push_back(static_cast<char>(x));
    }
    bytes.append(part % 2 == 0 ? ul::kChunkMaxBytes + 4321 : 7777, '\0');
  }
  const std::string folder = filesupport::FreshFolder("chunks");
  const std::string path = folder + "\\pack.dat";
  ASSERT_TRUE(filesupport::WriteBytes(path, bytes));
  ul::ChunkIndex published;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(ul::IndexFile(f, &published));
  std::fclose(f);
  std::vector<ul::ChunkRecord> installed;
  ul::OffsetFile copy;
  ASSERT_TRUE(copy.Open(path.c_str(), false));
  ASSERT_TRUE(ChunksOfInstalledCopy(copy, &installed));
  copy.Close();
  ASSERT_GT(published.chunks.size(), 20u);
  ASSERT_EQ(installed.size(), published.chunks.size());
  for (std::size_t i = 0; i < installed.size(); ++i) {
    const ul::ChunkRecord& a = installed[i];
    const ul::ChunkRecord& b = published.chunks[i];
    EXPECT_TRUE(a.offset == b.offset && a.length == b.length && std::memcmp(a.sha256, b.sha256, sizeof a.sha256) == 0)
        << "chunk " << i;
  }
  filesupport::RemoveFolder(folder);
}

// The journal of a transfer by chunks is written whole once and then one
// byte for each chunk checked: at the largest index, rewriting it whole for
// every chunk wrote some 24 KB a chunk. What stands on disk is the journal.
TEST(JournalFile, EachMarkWritesOneByteAndTheFileIsTheJournal) {
  ul::ChunkIndex index;
  index.chunks.resize(ul::kChunkIndexMaxChunks);
  index.size = uint64_t{ul::kChunkIndexMaxChunks} * ul::kChunkMinBytes;
  const uint8_t sha[ul::kSha256Bytes] = {7};
  ul::ResumeJournal journal = ul::StartJournal(sha, index);
  const std::string folder = filesupport::FreshFolder("journal");
  const std::string path = folder + "\\pack.dat~journal";
  ASSERT_TRUE(filesupport::WriteBytes(path, std::string(40000, 'x')));  // a longer earlier journal
  JournalFile file;
  ASSERT_TRUE(file.Start(path.c_str(), journal, true));
  const uint64_t started = file.written();
  const std::size_t marks = 1000;
  for (std::size_t k = 0; k < marks; ++k) ASSERT_TRUE(file.Mark(journal, k * 7919 % index.chunks.size()));
  file.Close();
  EXPECT_LE(file.written() - started, marks) << "bytes written for " << marks << " marks";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string onDisk(50000, '\0');
  onDisk.resize(std::fread(&onDisk[0], 1, onDisk.size(), f));
  std::fclose(f);
  EXPECT_TRUE(onDisk == ul::FormatJournal(journal)) << onDisk.size() << " bytes on disk";
  filesupport::RemoveFolder(folder);
}
