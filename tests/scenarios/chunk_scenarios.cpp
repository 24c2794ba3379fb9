// Big files by their changed chunks: what travels, as the server counts it,
// when a pack changes a little, when a run is killed half-way, when the
// server answers ranges wrongly, when an index is tampered with, and when
// an installed pack is damaged.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/content_chunker.h"
#include "formats/chunks/resume_journal.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/trust/release_crypto.h"
#include "harness/proc.h"
#include "harness/scenario.h"

namespace scn {
namespace {

const char kPackA[] = "/Ulmet3/files/Data/a.pak";
const char kIndexA[] = "/Ulmet3/chunks/Data/a.pak.chunks";
const char kPackB[] = "/Ulmet3/files/Data/b.pak";
const long long kMaxChunk = ul::kChunkMaxBytes;

std::string WithByteFlipped(std::string s, std::size_t at) {
  s[at] ^= 0x5a;
  return s;
}

class Chunks : public Scenario {
 protected:
  // Big contents compared without printing them.
  void ExpectPack(const std::string& relative, const std::string& content, const char* which) {
    EXPECT_TRUE(ClientFileText(relative) == content) << relative << " is not the " << which << " file";
  }
  // What the second start's trace says it kept from the first.
  long long KeptFromEarlierRun() {
    const std::regex kept("Chunks: Data/a.pak: ([0-9]+) bytes kept from an earlier run");
    std::smatch m;
    for (const auto& line : Trace())
      if (std::regex_search(line, m, kept)) return std::stoll(m[1]);
    ADD_FAILURE() << "no plan traced for Data/a.pak";
    return -1;
  }
};

TEST_F(Chunks, OneByteAndAnInsertTravelAsTheirChunksOnly) {
  const std::string a = Noise(64 << 20, 21), b = Noise(64 << 20, 22);
  const std::string a2 = WithByteFlipped(a, 40 << 20);
  const std::string b2 = b.substr(0, 100000) + Noise(1024, 23) + b.substr(100000);
  const std::string c = Noise(8 << 20, 24);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", a).PublishedFile("Data/a.pak", a2)
         .ClientFile("Data\\b.pak", b).PublishedFile("Data/b.pak", b2)
         .PublishedFile("Maps/c.pak", c)
         .Release("chunks")
         .Release("version 1001 Data/a.pak Data/b.pak Maps/c.pak")
         .ServedByNginx()
         .TimeLimit(120);
  Run(LaunchArg(2));
  ExpectPack("Data\\a.pak", a2, "new");
  ExpectPack("Data\\b.pak", b2, "new");
  ExpectPack("Maps\\c.pak", c, "new");
  ExpectTrace("Chunks: Data/a.pak made in place");  // one byte changed: the rest stays where it is
  ExpectTrace("Chunks: Data/b.pak made:");          // an insert moves what follows it: a new copy
  ExpectTrace("Chunks: Maps/c.pak made:");          // a new file in a folder the release brings
  EXPECT_LE(BytesSent(kPackA), 2 * kMaxChunk);
  EXPECT_LE(BytesSent(kPackB), 3 * kMaxChunk);
  // An index is some 0.02 % of its file.
  EXPECT_LE(BytesSent(kIndexA), (64 << 20) / 1000);
  EXPECT_GT(BytesSent(kIndexA), 0);
  EXPECT_FALSE(ClientFileExists("Data\\a.pak~part") || ClientFileExists("Data\\a.pak~journal"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(Chunks, ARunKilledHalfWayLeavesWorkTheNextRunKeeps) {
  const long long size = 64 << 20;
  const std::string next = Noise(size, 32);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", Noise(size, 31)).PublishedFile("Data/a.pak", next)
         .Release("chunks")
         .Release("version 1001 Data/a.pak")
         .KillWhenSent(size / 2)
         .TimeLimit(120);
  Run(LaunchArg(2));
  ASSERT_TRUE(Result().killed) << "the first run ended before half of the file was sent";
  const long long sentBefore = BytesSent(kPackA);
  EXPECT_TRUE(ClientFileExists("Data\\a.pak~part") && ClientFileExists("Data\\a.pak~journal"));
  EXPECT_TRUE(ClientFileText("Data\\a.pak") != next) << "nothing partial is taken for the finished file";

  RunAgain(LaunchArg(2));
  ExpectPack("Data\\a.pak", next, "new");
  const long long kept = KeptFromEarlierRun();
  // Only the request under way when the run was killed is lost, less the
  // chunks of it already checked; nothing kept travels again.
  EXPECT_GE(kept, sentBefore - static_cast<long long>(ul::kRangeRequestMaxBytes));
  EXPECT_LE(BytesSent(kPackA), size - kept);
  EXPECT_LE(sentBefore + BytesSent(kPackA), size + static_cast<long long>(ul::kRangeRequestMaxBytes));
  EXPECT_FALSE(ClientFileExists("Data\\a.pak~part") || ClientFileExists("Data\\a.pak~journal"));
}

// A pack that has other names (a hard link) is never written in place:
// that would change it under those names too. It is made anew beside the
// installed one, which then takes its name alone.
TEST_F(Chunks, AFileWithOtherNamesIsMadeAnewNotChangedInPlace) {
  const std::string a = Noise(8 << 20, 91), a2 = WithByteFlipped(a, 5 << 20);
  const std::string linked = OutputDir() + "/linked-client";
  std::filesystem::create_directories(linked + "/Data");
  WriteText(linked + "/Data/a.pak", a);
  WriteText(linked + "/UlmetMain.exe", ReadText(StandInProgram()));
  Given().InstalledFolderLinked(linked, 1000)
         .PublishedFile("Data/a.pak", a2)
         .Release("chunks")
         .Release("version 1001 Data/a.pak")
         .TimeLimit(90);
  Run(LaunchArg(2));
  ExpectPack("Data\\a.pak", a2, "new");
  ExpectTrace("Chunks: Data/a.pak made:");
  EXPECT_TRUE(ReadText(linked + "/Data/a.pak") == a) << "the pack changed under its other name";
}

// Each fault hits the first range request; the whole download after it is
// served as it should be, unless the fault stays.
struct Fault {
  const char* name;
  const char* kind;
  const char* params;
  const char* trace;
  bool newFile;  // else the old file is kept and the run ends with the download box
};
void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class ChunkFaults : public Chunks, public ::testing::WithParamInterface<Fault> {};

TEST_P(ChunkFaults, EndWithTheRightFileOrTheOldOne) {
  const Fault& f = GetParam();
  const std::string old = Noise(8 << 20, 41);
  const std::string next = WithByteFlipped(old, 5 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", old).PublishedFile("Data/a.pak", next)
         .Release("chunks")
         .Release("version 1001 Data/a.pak")
         .Fault(kPackA, f.kind, f.params)
         .TimeLimit(90);
  Run(LaunchArg(2));
  ExpectTrace(f.trace);
  ExpectPack("Data\\a.pak", f.newFile ? next : old, f.newFile ? "new" : "old");
  if (f.newFile) {
    ExpectNoBox();
    ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
    EXPECT_FALSE(ClientFileExists("Data\\a.pak~part") || ClientFileExists("Data\\a.pak~journal"));
  } else {
    ExpectBox("[Data/a.pak] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다.");
    ExpectNothingStarted();
  }
}

const Fault kFaults[] = {
    {"RangesIgnored", "noranges", "count=1", "travels whole: the server did not answer a range as asked", true},
    {"WrongContentRange", "wrongrange", "count=1 shift=7", "travels whole: the server did not answer a range as asked",
     true},
    {"WrongBytes", "wrongbytes", "count=1 at=1000", "travels whole: a fetched chunk differs from its digest", true},
    {"CutOnce", "cut", "count=1 bytes=70000", "travels whole: the connection broke inside a range", true},
    {"CutAlways", "cut", "bytes=70000", "travels whole: the connection broke inside a range", false},
};
INSTANTIATE_TEST_SUITE_P(Server, ChunkFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& i) { return std::string(i.param.name); });

TEST_F(Chunks, AKeyedBuildRefusesATamperedIndex) {
  const std::string old = Noise(8 << 20, 51);
  const std::string next = WithByteFlipped(old, 3 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", old).PublishedFile("Data/a.pak", next)
         .Release("chunks")
         .Release("version 1001 Data/a.pak")
         .SignedBuild();
  // The index of the old bytes in place of the signed one: it would copy
  // every chunk, fetch none and make the old file again.
  ul::ChunkIndexBuilder builder;
  ul::ChunkIndex index;
  std::string bytes;
  ASSERT_TRUE(builder.Add(old.data(), old.size()) && builder.Finish(&index) && ul::FormatChunkIndex(index, &bytes));
  Given().ServerFile("Ulmet3/chunks/Data/a.pak.chunks", bytes);
  Run(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak travels whole: its index cannot be fetched, or differs from the signed release");
  ExpectPack("Data\\a.pak", next, "new");
  EXPECT_GE(BytesSent(kPackA), 8 << 20);
}

// What an unkeyed build takes of an index's claims: an index stops being
// received past the largest an index may be, and a file bigger than the
// client's drive can hold reserves nothing.
TEST_F(Chunks, AnIndexPastItsLargestSizeIsNotReceivedWhole) {
  const std::string old = Noise(2 << 20, 61), next = WithByteFlipped(old, 1 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", old).PublishedFile("Data/a.pak", next)
         .Release("chunks 1048576")
         .Release("version 1001 Data/a.pak")
         .ServerFileOfSize(kIndexA, "ULCHUNKS", uint64_t{64} << 20)
         .Fault(kIndexA, "nolength");
  Run(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak travels whole: its index cannot be fetched, or differs from the signed release");
  ExpectPack("Data\\a.pak", next, "new");
  // What the server counts as sent includes what the sockets still held.
  EXPECT_LE(BytesSent(kIndexA), static_cast<long long>(2 * ul::kChunkIndexMaxBytes));
}

TEST_F(Chunks, AnIndexClaimingMoreThanTheDriveHoldsReservesNothing) {
  const std::string old = Noise(2 << 20, 62), next = WithByteFlipped(old, 1 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", old).PublishedFile("Data/a.pak", next)
         .Release("chunks 1048576")
         .Release("version 1001 Data/a.pak");
  // Well formed and all of the largest chunks: some 180 GiB, more than any
  // drive of the machines that run this has free.
  ul::ChunkIndex huge;
  huge.size = uint64_t{ul::kChunkIndexMaxChunks} * ul::kChunkMaxBytes;
  huge.chunks.resize(ul::kChunkIndexMaxChunks);
  for (std::size_t i = 0; i < huge.chunks.size(); ++i) {
    huge.chunks[i].offset = uint64_t{i} * ul::kChunkMaxBytes;
    huge.chunks[i].length = ul::kChunkMaxBytes;
  }
  std::error_code ec;
  const std::filesystem::space_info room = std::filesystem::space(TestPaths().prefix, ec);
  if (!ec && room.available > huge.size) GTEST_SKIP() << "this drive has room for the whole claim";
  std::string bytes;
  ASSERT_TRUE(ul::FormatChunkIndex(huge, &bytes));
  Given().ServerFile(kIndexA, bytes);
  Run(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak travels whole: the client's drive has no room for its new copy");
  ExpectPack("Data\\a.pak", next, "new");
  EXPECT_FALSE(ClientFileExists("Data\\a.pak~part"));
}

// A partial file that someone planted as a link to a file elsewhere, with a
// journal that vouches for it: a keyed build makes its partial file new
// and writes nothing into the linked file.
TEST_F(Chunks, AKeyedBuildWritesNoPartialFilePlantedAsALink) {
  const std::string old = Noise(4 << 20, 71), next = WithByteFlipped(old, 2 << 20);
  const std::string victim = Noise(next.size(), 72), outside = OutputDir() + "/outside.bin";
  std::ofstream(outside, std::ios::binary) << victim;
  ul::ChunkIndexBuilder builder;
  ul::ChunkIndex index;
  std::string indexBytes;
  ASSERT_TRUE(builder.Add(next.data(), next.size()) && builder.Finish(&index) &&
              ul::FormatChunkIndex(index, &indexBytes));
  ul::Sha256 sha;
  uint8_t indexSha[ul::kSha256Bytes];
  ASSERT_TRUE(sha.Update(indexBytes.data(), indexBytes.size()) && sha.Finish(indexSha));
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", old).PublishedFile("Data/a.pak", next)
         .ClientLink("Data\\a.pak~part", outside, true)
         .ClientFile("Data\\a.pak~journal", ul::FormatJournal(ul::StartJournal(indexSha, index)))
         .Release("chunks")
         .Release("version 1001 Data/a.pak")
         .SignedBuild();
  Run(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak made");
  ExpectPack("Data\\a.pak", next, "new");
  std::ifstream in(outside, std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == victim) << "the linked file was written";
}

// With "[PACE]" and the record on, a pack made by its chunks keeps the index
// it was made by beside it, the record takes it as made, and the next
// release plans from that index instead of cutting the installed copy again:
// on the record's word, which the hash list's digest of the result checks.
TEST_F(Chunks, APackMadeByChunksIsNotCutAgainForTheNextRelease) {
  const std::string v1 = Noise(8 << 20, 81), v2 = WithByteFlipped(v1, 1 << 20), v3 = WithByteFlipped(v2, 5 << 20);
  Given().InstalledClient(1000)
         .ClientFile("Data\\a.pak", v1).PublishedFile("Data/a.pak", v2)
         .Release("chunks")
         .Release("set VERIFIEDSTATE on 7")
         .Release("set PACE download 65536 digest 1048576")
         .Release("version 1001 Data/a.pak");
  Run(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak made");
  ExpectNoTrace("from the index it was made by");
  ExpectPack("Data\\a.pak", v2, "second");
  EXPECT_TRUE(ClientFileExists("Data\\a.pak~chunks"));
  ExpectTrace(" 1 vouched for by the record");  // the pack, just made: not read again
  Given().PublishedFile("Data/a.pak", v3).Release("version 1002 Data/a.pak");
  RunAgain(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak: the installed copy's chunks from the index it was made by");
  ExpectTrace("Chunks: Data/a.pak made");
  ExpectPack("Data\\a.pak", v3, "third");
  EXPECT_LE(BytesSent(kPackA), 2 * kMaxChunk);

  // Damaged in place with its size and time kept, the pack is still vouched
  // for by the record and copied by its kept index; the file that makes is
  // not the hash list's, and the pack travels whole instead.
  const std::string pack = UnixPath(ClientFolder() + "Data\\a.pak");
  const auto written = std::filesystem::last_write_time(pack);
  {
    std::fstream f(pack, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 << 20);
    f.write("damage", 6);
  }
  std::filesystem::last_write_time(pack, written);
  const std::string v4 = WithByteFlipped(v3, 7 << 20);
  Given().PublishedFile("Data/a.pak", v4).Release("version 1003 Data/a.pak");
  RunAgain(LaunchArg(2));
  ExpectTrace("Chunks: Data/a.pak: the installed copy's chunks from the index it was made by");
  ExpectTrace("Chunks: Data/a.pak travels whole: the new file differs from the hash list");
  ExpectPack("Data\\a.pak", v4, "fourth");
}

TEST_F(Chunks, ADamagedPackIsRepairedByItsDamagedChunks) {
  const std::string pack = Noise(64 << 20, 61);
  std::string damaged = pack;
  for (std::size_t at = 20 << 20; at < (20 << 20) + 300; ++at) damaged[at] = 0;
  Given().InstalledClient(1001)
         .ClientFile("Data\\a.pak", damaged).PublishedFile("Data/a.pak", pack)
         .ClientFile("a.dat", "alpha\n").PublishedFile("a.dat", "alpha\n")
         .Release("chunks")
         .Release("version 1001 a.dat")
         .TimeLimit(120);
  Run(LaunchArg(2));
  ExpectPack("Data\\a.pak", pack, "published");
  ExpectTrace("Chunks: Data\\a.pak made");
  EXPECT_LE(BytesSent(kPackA), 2 * kMaxChunk);
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn
