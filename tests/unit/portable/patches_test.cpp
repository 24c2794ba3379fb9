// The patch list and journal formats, and a patch applied by the decoder
// with the base as its prefix: a good patch, and each way a patch can fail
// to make the new file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "formats/patches/patch_decoder.h"
#include "formats/patches/patch_journal.h"
#include "formats/patches/patch_list.h"
#include "portable/portable_support.h"

namespace {

using testsupport::Noise;

ul::PatchEntry Entry(const std::string& target, char md5Digit, const std::string& patch) {
  ul::PatchEntry e;
  e.target = target;
  e.baseSize = 1000;
  std::memset(e.baseMd5, md5Digit, 32);
  e.patch = patch;
  e.patchSize = 10;
  e.size = 1200;
  e.sha256[0] = 0xab;
  return e;
}

TEST(PatchList, ReadsWhatItWritesAndFindsATargetByAnySpelling) {
  const std::vector<ul::PatchEntry> entries = {Entry("Data/Game!x.exe", 'a', "one.zst"),
                                               Entry("Data/Game!x.exe", 'b', "two.zst"), Entry("c.dll", 'a', "3.zst")};
  std::string text;
  ASSERT_TRUE(ul::FormatPatchList(entries, &text));
  ul::PatchList list;
  ASSERT_TRUE(list.Parse(text.data(), text.size()));
  ASSERT_EQ(list.entries().size(), 3u);
  const ul::PatchEntry* e = list.Find("data\\GAME x.exe", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->patch, "two.zst");
  EXPECT_EQ(e->sha256[0], 0xab);
  EXPECT_EQ(list.Find("c.dll", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"), nullptr);
  EXPECT_TRUE(list.Lists("C.DLL"));
  EXPECT_FALSE(list.Lists("d.dll"));
  EXPECT_TRUE(list.HasBaseOfSize("c.dll", 1000));
  EXPECT_FALSE(list.HasBaseOfSize("c.dll", 1001));
  std::string path;
  EXPECT_TRUE(ul::PatchPath("/Ulmet3/patches/ULPatchList.dat", "one.zst", &path));
  EXPECT_EQ(path, "/Ulmet3/patches/one.zst");
  EXPECT_FALSE(ul::PatchPath("/Ulmet3/patches/ULPatchList.dat", "../one.zst", &path));
}

TEST(PatchList, RefusesAnyLineItWouldNotWrite) {
  const std::string md5(32, 'a'), sha(64, 'b');
  const std::string good = "a.exe 10 " + md5 + " " + sha + " p.zst 5 " + sha + " 12 " + sha;
  struct Row {
    const char* why;
    std::string text;
  } rows[] = {
      {"another header", "ulmet-patches 2\n" + good + "\n"},
      {"no final line feed", "ulmet-patches 1\n" + good},
      {"two blanks", "ulmet-patches 1\n" + std::string("a.exe  10") + good.substr(8) + "\n"},
      {"a field short", "ulmet-patches 1\na.exe 10 " + md5 + " " + sha + " p.zst 5 " + sha + " 12\n"},
      {"upper-case digest", "ulmet-patches 1\na.exe 10 " + std::string(32, 'A') + good.substr(41) + "\n"},
      {"empty base", "ulmet-patches 1\na.exe 0" + good.substr(8) + "\n"},
      {"base past the limit", "ulmet-patches 1\na.exe 268435457" + good.substr(8) + "\n"},
      {"target leaving the folder", "ulmet-patches 1\n../a.exe" + good.substr(5) + "\n"},
      {"patch in a folder", "ulmet-patches 1\n" + good.substr(0, 106) + " x/p.zst" + good.substr(112) + "\n"},
      {"patch name with a dot first", "ulmet-patches 1\n" + good.substr(0, 106) + " .zst" + good.substr(112) + "\n"},
      {"same target and base twice", "ulmet-patches 1\n" + good + "\nA.EXE" + good.substr(5, 101) + " q.zst" +
                                         good.substr(112) + "\n"},
      {"same patch twice", "ulmet-patches 1\n" + good + "\nb.exe" + good.substr(5) + "\n"},
  };
  ul::PatchList list;
  ASSERT_TRUE(list.Parse(("ulmet-patches 1\n" + good + "\n").data(), good.size() + 17)) << "the good line";
  for (const Row& r : rows) {
    EXPECT_FALSE(list.Parse(r.text.data(), r.text.size())) << r.why;
    EXPECT_TRUE(list.entries().empty()) << r.why;
  }
}

TEST(PatchJournal, NamesOnePatchOnly) {
  ul::PatchEntry e = Entry("a.exe", 'a', "p.zst");
  e.patchSha256[3] = 7;
  const std::string j = ul::FormatPatchJournal(e);
  EXPECT_TRUE(ul::PatchJournalNames(j.data(), j.size(), e));
  ul::PatchEntry other = e;
  other.patchSize = 11;
  EXPECT_FALSE(ul::PatchJournalNames(j.data(), j.size(), other));
  other = e;
  other.patchSha256[3] = 8;
  EXPECT_FALSE(ul::PatchJournalNames(j.data(), j.size(), other));
  EXPECT_FALSE(ul::PatchJournalNames(j.data(), j.size() - 1, e));
}

// A patch as the publisher makes one: the base as prefix, a window over the
// larger file, the content size and a checksum.
std::string MakePatch(const std::string& base, const std::string& next, bool checksum = true) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  std::string out(ZSTD_compressBound(next.size()), '\0');
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 20);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, checksum ? 1 : 0);
  ZSTD_CCtx_refPrefix(c, base.data(), base.size());
  const std::size_t n = ZSTD_compress2(c, &out[0], out.size(), next.data(), next.size());
  ZSTD_freeCCtx(c);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}

// The new file the decoder makes of patch and base, fed in pieces; empty
// unless it finished.
std::string Apply(const std::string& base, const std::string& patch, std::size_t size, std::size_t piece = 1000) {
  std::string out(size, '\0');
  ul::PatchDecoder d;
  if (!d.Start(base.data(), base.size(), &out[0], out.size())) return "";
  for (std::size_t at = 0; at < patch.size(); at += piece) {
    if (!d.Feed(patch.data() + at, std::min(piece, patch.size() - at))) return "";
  }
  return d.Finished() ? out : "";
}

TEST(PatchDecoder, MakesTheNewFileFromItsBaseInPieces) {
  const std::string base = Noise(300000, 1);
  const std::string next = base.substr(0, 100000) + Noise(5000, 2) + base.substr(120000);
  const std::string patch = MakePatch(base, next);
  EXPECT_LT(patch.size(), 20000u) << "the base is not used";
  EXPECT_TRUE(ul::PatchFrameFits(patch.data(), patch.size(), next.size()));
  EXPECT_FALSE(ul::PatchFrameFits(patch.data(), patch.size(), next.size() + 1));
  EXPECT_TRUE(Apply(base, patch, next.size(), 1) == next);
  EXPECT_TRUE(Apply(base, patch, next.size(), 1 << 20) == next);
}

TEST(PatchDecoder, NothingButTheRightPatchOnItsBaseFinishes) {
  const std::string base = Noise(200000, 3), other = Noise(200000, 4);
  const std::string next = base.substr(0, 150000) + Noise(3000, 5) + base.substr(150000);
  const std::string patch = MakePatch(base, next);
  std::string damaged = patch;
  damaged[damaged.size() / 2] ^= 0x20;
  struct Row {
    const char* why;
    std::string base, patch;
    std::size_t size;
  } rows[] = {
      {"another base", other, patch, next.size()},
      {"a damaged byte", base, damaged, next.size()},
      {"cut short", base, patch.substr(0, patch.size() - 7), next.size()},
      {"bytes after the frame", base, patch + "x", next.size()},
      {"less room than the frame makes", base, patch, next.size() - 1},
  };
  for (const Row& r : rows) EXPECT_TRUE(Apply(r.base, r.patch, r.size).empty()) << r.why;
  EXPECT_FALSE(ul::PatchFrameFits(MakePatch(base, next, false).data(), 100, next.size())) << "no checksum";
  EXPECT_FALSE(ul::PatchFrameFits("not a frame at all", 18, next.size()));
}

}  // namespace
