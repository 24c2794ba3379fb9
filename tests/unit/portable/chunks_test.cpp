// Chunk boundaries, the index and list formats, the resume journal and the
// transfer plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/base/le_bytes.h"
#include "formats/chunks/chunk_index.h"
#include "formats/chunks/chunk_list.h"
#include "formats/chunks/range_assembler.h"
#include "formats/chunks/resume_journal.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/trust/release_crypto.h"
#include "portable/portable_support.h"

namespace {

using testsupport::Noise;

ul::ChunkIndex IndexOf(const std::string& data, std::size_t piece = 1 << 16) {
  ul::ChunkIndexBuilder builder;
  for (std::size_t at = 0; at < data.size(); at += piece)
    EXPECT_TRUE(builder.Add(data.data() + at, std::min(piece, data.size() - at)));
  ul::ChunkIndex index;
  EXPECT_TRUE(builder.Finish(&index));
  return index;
}

bool SameDigest(const uint8_t* a, const std::string& bytes) {
  ul::Sha256 sha;
  uint8_t d[ul::kSha256Bytes];
  return sha.Update(bytes.data(), bytes.size()) && sha.Finish(d) && std::memcmp(a, d, sizeof d) == 0;
}

// What a client holding old fetches to make next.
ul::TransferPlan Plan(const ul::ChunkIndex& next, const ul::ChunkIndex& old) {
  ul::TransferPlan plan;
  EXPECT_TRUE(ul::PlanTransfer(next, old.chunks, {}, ul::kRangeRequestMaxBytes, &plan));
  return plan;
}

// The cut rule as content_chunker.h states it, written out apart from the
// chunker: the ends (offsets after the last byte) of the chunks of data. Each
// byte value stands for a fixed 64-bit value from a fixed sequence; the hash
// moves one bit up for every byte and adds the byte's value, from the byte
// after the smallest size on; a chunk ends where the hash's top 20 bits (up
// to the normal size) or top 16 bits (beyond it) are zero, at the largest
// size, or at the end of the data.
std::vector<uint64_t> RuleEnds(const std::string& data) {
  uint64_t values[256];
  uint64_t state = 0x756c6d6574636875ull;
  for (uint64_t& v : values) {
    state += 0x9e3779b97f4a7c15ull;
    uint64_t z = (state ^ (state >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    v = z ^ (z >> 31);
  }
  std::vector<uint64_t> ends;
  uint64_t start = 0, hash = 0;
  for (uint64_t at = 0; at < data.size(); ++at) {
    const uint64_t length = at + 1 - start;
    if (length <= 64 * 1024) continue;
    hash = (hash << 1) + values[static_cast<uint8_t>(data[at])];
    const uint64_t mask = length <= 192 * 1024 ? 0xfffff00000000000ull : 0xffff000000000000ull;
    if ((hash & mask) == 0 || length == 1024 * 1024) {
      ends.push_back(at + 1);
      start = at + 1;
      hash = 0;
    }
  }
  if (start < data.size()) ends.push_back(data.size());
  return ends;
}

std::vector<uint64_t> Ends(const ul::ChunkIndex& index) {
  std::vector<uint64_t> ends;
  for (const ul::ChunkRecord& c : index.chunks) ends.push_back(c.offset + c.length);
  return ends;
}

std::string Bytes(const ul::ChunkIndex& index) {
  std::string out;
  EXPECT_TRUE(ul::FormatChunkIndex(index, &out));
  return out;
}

TEST(Chunks, SizesStayInBoundsAndDigestsCoverTheBytesHoweverTheyArrive) {
  const std::string data = Noise(10 << 20, 1);
  const ul::ChunkIndex index = IndexOf(data);
  ASSERT_GT(index.chunks.size(), 20u);
  EXPECT_EQ(index.size, data.size());
  EXPECT_TRUE(SameDigest(index.sha256, data));
  for (std::size_t i = 0; i < index.chunks.size(); ++i) {
    const ul::ChunkRecord& c = index.chunks[i];
    if (i + 1 < index.chunks.size()) {
      EXPECT_GE(c.length, ul::kChunkMinBytes);
    }
    EXPECT_LE(c.length, ul::kChunkMaxBytes);
    EXPECT_TRUE(SameDigest(c.sha256, data.substr(c.offset, c.length))) << i;
  }
  EXPECT_EQ(Ends(index), RuleEnds(data));
  // The rule's mean over random bytes is 241 KiB (the header's "about 256,
  // 242 measured"); the average of some 44 chunks strays from it by some
  // 11 KiB.
  const double average = static_cast<double>(data.size()) / index.chunks.size();
  EXPECT_GT(average, 208 << 10);
  EXPECT_LT(average, 274 << 10);
  // The index stays far below a thousandth of its file.
  EXPECT_LT(Bytes(index).size() * 1000, data.size() / 2);

  const std::string head = data.substr(0, 3 << 20);
  const std::string whole = Bytes(IndexOf(head));
  for (std::size_t piece : {4093u, 3u << 20}) EXPECT_EQ(Bytes(IndexOf(head, piece)), whole) << piece;
  const std::string start = data.substr(0, 300 << 10);
  EXPECT_EQ(Bytes(IndexOf(start, 1)), Bytes(IndexOf(start)));
  // A run without natural boundaries is cut at the largest size.
  const ul::ChunkIndex zeros = IndexOf(std::string(5 << 20, '\0'));
  ASSERT_EQ(zeros.chunks.size(), 5u);
  EXPECT_EQ(zeros.chunks[4].length, ul::kChunkMaxBytes);

  testsupport::TempFile file(head);
  std::FILE* f = std::fopen(file.path().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ul::ChunkIndex fromFile;
  EXPECT_TRUE(ul::IndexFile(f, &fromFile));
  std::fclose(f);
  EXPECT_EQ(Bytes(fromFile), whole);
  ul::ChunkIndex empty = IndexOf("");
  EXPECT_TRUE(empty.chunks.empty());
  EXPECT_EQ(empty.size, 0u);
}

// The bytes that travel when a file changes in one place: the chunks around
// the change, whatever moved after it.
TEST(Chunks, AChangeCostsOnlyTheChunksAroundIt) {
  const std::string old = Noise(10 << 20, 2);
  const ul::ChunkIndex before = IndexOf(old);
  struct Change {
    const char* what;
    std::string bytes;
    uint64_t mostFetched;
  };
  std::string flipped = old;
  flipped[7 << 20] ^= 1;
  const Change changes[] = {
      {"one byte changed", flipped, 2 * ul::kChunkMaxBytes},
      {"1 KiB inserted near the start", old.substr(0, 5000) + Noise(1024, 3) + old.substr(5000),
       3 * ul::kChunkMaxBytes},
      {"1 KiB removed in the middle", old.substr(0, 5 << 20) + old.substr((5 << 20) + 1024),
       3 * ul::kChunkMaxBytes},
      {"1 MiB appended", old + Noise(1 << 20, 4), 2 * ul::kChunkMaxBytes},
  };
  for (const Change& c : changes) {
    const ul::ChunkIndex after = IndexOf(c.bytes);
    const ul::TransferPlan plan = Plan(after, before);
    EXPECT_GT(plan.fetchedBytes, 0u) << c.what;
    EXPECT_LE(plan.fetchedBytes, c.mostFetched) << c.what;
    EXPECT_EQ(plan.fetchedBytes + plan.copiedBytes, c.bytes.size()) << c.what;
    EXPECT_LE(plan.requests.size(), 2u) << c.what;
  }
  EXPECT_EQ(Plan(before, before).fetchedBytes, 0u);
}

TEST(Chunks, TheIndexReaderRefusesEveryHostileIndex) {
  const ul::ChunkIndex good = IndexOf(Noise(3 << 20, 5));
  ASSERT_GE(good.chunks.size(), 3u);
  const std::string bytes = Bytes(good);
  ul::ChunkIndex read;
  ASSERT_TRUE(ul::ParseChunkIndex(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(Bytes(read), bytes);
  const std::string emptyFile = Bytes(ul::ChunkIndex());
  EXPECT_TRUE(ul::ParseChunkIndex(emptyFile.data(), emptyFile.size(), &read));

  // Broken structures: the reader refuses them, as a careless writer would
  // put them, and the writer will not write them.
  auto unchecked = [&](const ul::ChunkIndex& x) {
    std::string b = bytes.substr(0, 24);  // the name, the version, the chunker's sizes
    ul::PutLe(&b, x.size, 8);
    b.append(bytes, 32, ul::kSha256Bytes);
    ul::PutLe(&b, x.chunks.size(), 4);
    for (const ul::ChunkRecord& c : x.chunks) {
      ul::PutLe(&b, c.offset, 8);
      ul::PutLe(&b, c.length, 4);
      b.append(reinterpret_cast<const char*>(c.sha256), ul::kSha256Bytes);
    }
    return b;
  };
  ASSERT_EQ(unchecked(good), bytes);
  struct Broken {
    const char* what;
    void (*spoil)(ul::ChunkIndex*);
  };
  const Broken broken[] = {
      {"gap", [](ul::ChunkIndex* x) { x->chunks[1].offset += 1; }},
      {"overlap", [](ul::ChunkIndex* x) { x->chunks[1].offset -= 1; }},
      {"short chunk before the last", [](ul::ChunkIndex* x) {
         const uint32_t cut = x->chunks[0].length - (ul::kChunkMinBytes - 1);
         x->chunks[0].length -= cut;  // the next one begins where it ends
         x->chunks[1].offset -= cut;
         x->chunks[1].length += cut;
       }},
      {"chunk beyond the largest", [](ul::ChunkIndex* x) { x->chunks.back().length = ul::kChunkMaxBytes + 1; }},
      {"empty chunk", [](ul::ChunkIndex* x) { x->chunks.back().length = 0; }},
      {"size beyond the chunks", [](ul::ChunkIndex* x) { x->size += 1; }},
      {"a size without chunks", [](ul::ChunkIndex* x) { x->chunks.clear(); }},
      {"more chunks than the size allows", [](ul::ChunkIndex* x) { x->chunks.push_back(x->chunks.back()); }},
  };
  for (const Broken& b : broken) {
    ul::ChunkIndex spoilt = good;
    b.spoil(&spoilt);
    std::string out = unchecked(spoilt);
    EXPECT_FALSE(ul::ParseChunkIndex(out.data(), out.size(), &read)) << b.what;
    EXPECT_FALSE(ul::FormatChunkIndex(spoilt, &out)) << b.what;
  }
  auto patched = [&](std::size_t at, const std::string& with) {
    std::string b = bytes;
    b.replace(at, with.size(), with);
    return b;
  };
  const std::size_t count = 64;  // where the chunk count lies
  const std::size_t firstLength = ul::kChunkIndexHeaderBytes + 8;
  const std::vector<std::pair<const char*, std::string>> hostile = {
      {"nothing", ""},
      {"header only", bytes.substr(0, ul::kChunkIndexHeaderBytes)},
      {"cut in a record", bytes.substr(0, bytes.size() - 1)},
      {"trailing byte", bytes + '\0'},
      {"another format", patched(0, "ULCHUNKZ")},
      {"another version", patched(8, std::string("\2\0\0\0", 4))},
      {"another chunker", patched(12, std::string("\0\0\2\0", 4))},
      {"huge count", patched(count, "\xff\xff\xff\xff")},
      {"one chunk more than given", patched(count, std::string(1, static_cast<char>(good.chunks.size() + 1)))},
      {"a chunk too long", patched(firstLength, std::string("\0\0\x20\0", 4))},
      {"a chunk of nothing", patched(firstLength, std::string(4, '\0'))},
      {"beyond the size bound", bytes + std::string(ul::kChunkIndexMaxBytes, '\0')},
  };
  for (const auto& h : hostile) {
    EXPECT_FALSE(ul::ParseChunkIndex(h.second.data(), h.second.size(), &read)) << h.first;
    EXPECT_TRUE(read.chunks.empty() && read.size == 0) << h.first;
  }
}

TEST(Chunks, TheListNamesIndexedFilesAndWhereTheirIndexesLie) {
  std::string text;
  ASSERT_TRUE(ul::FormatChunkList({"Data/pack1.pak", "my!big file.bin"}, &text));
  EXPECT_EQ(text, "ulmet-chunks 1\nData/pack1.pak\nmy!big file.bin\n");
  ul::ChunkList list;
  ASSERT_TRUE(list.Parse(text.data(), text.size()));
  // An update list may write '\\' between folders; the index is found under
  // the list's own spelling.
  std::string listed;
  for (const char* name : {"Data/pack1.pak", "DATA/PACK1.PAK", "data\\Pack1.pak"}) {
    EXPECT_TRUE(list.ListedName(name, &listed)) << name;
    EXPECT_EQ(listed, "Data/pack1.pak");
  }
  for (const char* name : {"my big file.bin", "my!big!file.bin"}) EXPECT_TRUE(list.Lists(name)) << name;
  for (const char* name : {"Data/pack2.pak", "pack1.pak", "Data/pack1.pak/", ""}) {
    EXPECT_FALSE(list.Lists(name)) << name;
    EXPECT_FALSE(list.ListedName(name, &listed)) << name;
  }

  for (const char* bad : {"", "ulmet-chunks 1", "ulmet-chunks 2\n", "ulmet-chunks 1\r\na\r\n",
                          "ulmet-chunks 1\n\n", "ulmet-chunks 1\n/abs\n", "ulmet-chunks 1\nC:x\n",
                          "ulmet-chunks 1\na/../b\n", "ulmet-chunks 1\na\nA\n", "ulmet-chunks 1\na b\na!b\n", "ulmet-chunks 1\nd/a\nd\\a\n",
                          "ulmet-chunks 1\nfolder/\n", "ulmet-chunks 1\na\tb\n"}) {
    EXPECT_FALSE(list.Parse(bad, std::strlen(bad))) << bad;
    EXPECT_TRUE(list.names().empty());
  }
  EXPECT_FALSE(ul::FormatChunkList({"a", "A"}, &text));
  EXPECT_FALSE(ul::FormatChunkList({"../a"}, &text));

  std::string path;
  ASSERT_TRUE(ul::ChunkIndexPath("/Ulmet3/chunks/ULChunkList.dat", "Data/my!pack.pak", &path));
  EXPECT_EQ(path, "/Ulmet3/chunks/Data/my!pack.pak.chunks");
  ASSERT_TRUE(ul::ChunkIndexPath("Ulmet3\\chunks\\list.dat", "a.pak", &path));
  EXPECT_EQ(path, "/Ulmet3/chunks/a.pak.chunks");
  EXPECT_FALSE(ul::ChunkIndexPath("/Ulmet3/chunks/list.dat", "../files/a.pak", &path));
  EXPECT_FALSE(ul::ChunkIndexPath("/Ulmet3/chunks/list.dat", std::string(1100, 'a').c_str(), &path));
}

TEST(Chunks, AJournalBelongsToOneIndex) {
  const ul::ChunkIndex index = IndexOf(Noise(5 << 20, 6));
  uint8_t digest[ul::kSha256Bytes] = {1, 2, 3};
  ul::ResumeJournal journal = ul::StartJournal(digest, index);
  ASSERT_EQ(journal.checked.size(), index.chunks.size());
  journal.checked[0] = journal.checked.back() = true;
  const std::string bytes = ul::FormatJournal(journal);
  ul::ResumeJournal read;
  ASSERT_TRUE(ul::ParseJournal(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(read.checked, journal.checked);
  EXPECT_TRUE(ul::JournalFits(read, digest, index));
  uint8_t other[ul::kSha256Bytes] = {1, 2, 4};
  EXPECT_FALSE(ul::JournalFits(read, other, index)) << "made for another index";
  ul::ChunkIndex longer = IndexOf(Noise(6 << 20, 6));
  EXPECT_FALSE(ul::JournalFits(read, digest, longer));

  const std::size_t countAt = 8 + ul::kSha256Bytes + 8;
  std::string pastCount = bytes;
  pastCount.back() = static_cast<char>(pastCount.back() | 0x80);
  std::string hugeCount = bytes;
  hugeCount.replace(countAt, 4, "\xff\xff\xff\x7f");
  for (const std::string& bad : {std::string(), bytes.substr(0, bytes.size() - 1), bytes + '\0', "X" + bytes.substr(1),
                                 pastCount, hugeCount}) {
    EXPECT_FALSE(ul::ParseJournal(bad.data(), bad.size(), &read));
    EXPECT_TRUE(read.checked.empty());
  }
}

TEST(Chunks, ThePlanKeepsCopiesAndJoinsNeighboursIntoBoundedRequests) {
  const std::string old = Noise(12 << 20, 7);
  std::string changed = old;
  for (std::size_t at : {1u << 20, 5u << 20}) changed[at] ^= 1;
  changed.replace(7 << 20, 5 << 20, Noise(5 << 20, 8));  // a long run of new chunks
  const ul::ChunkIndex before = IndexOf(old);
  const ul::ChunkIndex after = IndexOf(changed);

  ul::TransferPlan plan = Plan(after, before);
  ASSERT_GE(plan.requests.size(), 4u);
  uint64_t requested = 0;
  for (const ul::RangeRequest& r : plan.requests) {
    EXPECT_LE(r.length, ul::kRangeRequestMaxBytes);
    const ul::ChunkRecord& first = after.chunks[r.firstChunk];
    const ul::ChunkRecord& last = after.chunks[r.firstChunk + r.chunkCount - 1];
    EXPECT_EQ(r.offset, first.offset);
    EXPECT_EQ(r.offset + r.length, last.offset + last.length);
    requested += r.length;
  }
  EXPECT_EQ(requested, plan.fetchedBytes);
  EXPECT_GE(plan.fetchedBytes, 5u << 20);
  for (std::size_t i = 0; i < after.chunks.size(); ++i) {
    if (plan.chunks[i].source != ul::kFromInstalled) continue;
    const ul::ChunkRecord& c = after.chunks[i];
    EXPECT_EQ(old.compare(plan.chunks[i].installedOffset, c.length, changed, c.offset, c.length), 0) << i;
  }

  // What the journal says was checked is kept; the rest as before.
  std::vector<bool> checked(after.chunks.size(), false);
  std::size_t firstFetched = plan.requests[0].firstChunk;
  checked[firstFetched] = true;
  ul::TransferPlan resumed;
  ASSERT_TRUE(ul::PlanTransfer(after, before.chunks, checked, ul::kRangeRequestMaxBytes, &resumed));
  EXPECT_EQ(resumed.chunks[firstFetched].source, ul::kFromPartial);
  EXPECT_EQ(resumed.keptBytes, after.chunks[firstFetched].length);
  EXPECT_EQ(resumed.fetchedBytes + resumed.keptBytes, plan.fetchedBytes);
  // Without an installed copy everything travels, in requests of at most
  // the bound.
  ASSERT_TRUE(ul::PlanTransfer(after, {}, {}, ul::kChunkMaxBytes, &resumed));
  EXPECT_EQ(resumed.fetchedBytes, changed.size());
  EXPECT_GE(resumed.requests.size(), changed.size() / ul::kChunkMaxBytes);
  for (const ul::RangeRequest& r : resumed.requests) EXPECT_LE(r.length, ul::kChunkMaxBytes);
  // An installed chunk with the digest but another length holds other bytes.
  std::vector<ul::ChunkRecord> otherLengths = after.chunks;
  for (ul::ChunkRecord& c : otherLengths) c.length -= 1;
  ASSERT_TRUE(ul::PlanTransfer(after, otherLengths, {}, ul::kRangeRequestMaxBytes, &resumed));
  EXPECT_EQ(resumed.copiedBytes, 0u);
  // Where the copy holds a chunk's content at several offsets, the one at
  // the chunk's own offset is taken (the file can then change in place);
  // else the first.
  std::vector<ul::ChunkRecord> thrice(3, after.chunks[0]);
  ul::ChunkIndex repeated;
  for (std::size_t i = 0; i < thrice.size(); ++i) thrice[i].offset = uint64_t{i * 3 + 2} << 20;
  for (uint64_t at : {uint64_t{5} << 20, uint64_t{7} << 20}) {
    repeated.chunks.push_back(after.chunks[0]);
    repeated.chunks.back().offset = at;
  }
  ASSERT_TRUE(ul::PlanTransfer(repeated, thrice, {}, ul::kRangeRequestMaxBytes, &resumed));
  EXPECT_EQ(resumed.chunks[0].installedOffset, uint64_t{5} << 20);
  EXPECT_EQ(resumed.chunks[1].installedOffset, uint64_t{2} << 20);

  EXPECT_FALSE(ul::PlanTransfer(after, {}, std::vector<bool>(3), ul::kRangeRequestMaxBytes, &resumed));
  EXPECT_FALSE(ul::PlanTransfer(after, {}, {}, ul::kChunkMaxBytes - 1, &resumed));
  EXPECT_TRUE(resumed.chunks.empty());
}

// Records what the assembler hands on; refuses from chunk refuseAt on.
struct Collected : ul::CheckedChunkSink {
  std::vector<std::size_t> chunks;
  std::string bytes;
  std::size_t refuseAt = SIZE_MAX;
  bool ChunkChecked(std::size_t chunk, const uint8_t* data, uint32_t length) override {
    if (chunk >= refuseAt) return false;
    chunks.push_back(chunk);
    bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
};

TEST(Chunks, ARangeIsCutIntoCheckedChunksAndABadOneNeverPasses) {
  const std::string data = Noise(3 << 20, 11);
  const ul::ChunkIndex index = IndexOf(data);
  ASSERT_GE(index.chunks.size(), 5u);
  ul::RangeRequest r;
  r.firstChunk = 1;
  r.chunkCount = 3;
  r.offset = index.chunks[1].offset;
  r.length = index.chunks[4].offset - r.offset;
  const std::string body = data.substr(r.offset, r.length);

  struct Case {
    const char* what;
    std::size_t flipAt;    // SIZE_MAX: none
    std::size_t extra;     // bytes after the range
    std::size_t refuseAt;  // the sink refuses from this chunk on
    std::size_t digestOff;  // this chunk's digest in the index differs in its last byte
    bool complete, bad;
    std::size_t handedOn;
  } cases[] = {
      {"the range as asked, in odd pieces", SIZE_MAX, 0, SIZE_MAX, SIZE_MAX, true, false, 3},
      {"a flipped byte in the second chunk", static_cast<std::size_t>(index.chunks[2].offset - r.offset + 5), 0, SIZE_MAX, SIZE_MAX, false, true, 1},
      {"a byte more than asked", SIZE_MAX, 1, SIZE_MAX, SIZE_MAX, false, false, 3},
      {"the sink stops", SIZE_MAX, 0, 2, SIZE_MAX, false, false, 1},
      {"the second chunk's digest off in its last byte", SIZE_MAX, 0, SIZE_MAX, 2, false, true, 1},
  };
  for (const Case& c : cases) {
    std::string sent = body + std::string(c.extra, 'x');
    if (c.flipAt != SIZE_MAX) sent[c.flipAt] ^= 0x40;
    ul::ChunkIndex told = index;
    if (c.digestOff != SIZE_MAX) told.chunks[c.digestOff].sha256[ul::kSha256Bytes - 1] ^= 1;
    Collected sink;
    sink.refuseAt = c.refuseAt;
    ul::RangeAssembler in(told, r, sink);
    bool ok = true;
    for (std::size_t at = 0; at < sent.size(); at += 4093) ok = in.Take(sent.data() + at, std::min<std::size_t>(4093, sent.size() - at)) && ok;
    EXPECT_EQ(ok, c.complete) << c.what;
    EXPECT_EQ(in.Complete(), c.complete) << c.what;
    EXPECT_EQ(in.BadChunk(), c.bad) << c.what;
    EXPECT_EQ(sink.chunks.size(), c.handedOn) << c.what;
    EXPECT_EQ(sink.bytes, body.substr(0, sink.bytes.size())) << c.what;  // only checked bytes
  }
}

}  // namespace
