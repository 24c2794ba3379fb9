#include "formats/trust/verified_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "formats/trust/md5.h"
#include "formats/lists/program_config.h"
#include "portable_support.h"

namespace {

using ul::FileFacts;
using ul::Verdict;
using ul::VerifiedRecord;

const char kFolder[] = "C:\\Ulmet\\";
const char kPath[] = "C:\\Ulmet\\Data\\pack 01.pak";
const char kDigest[] = "0123456789abcdef0123456789abcdef";
const char kOtherDigest[] = "fedcba9876543210fedcba9876543210";
const uint64_t kNow = 133000000000000000ULL;  // a file time in 2022
const uint64_t kHour = ul::kFileTimeDay / 24;

FileFacts Facts() {
  FileFacts f;
  f.size = 5000000000ULL;  // beyond 32 bits
  f.lastWrite = kNow - 30 * ul::kFileTimeDay;
  f.volume = 0xDEADBEEF;
  f.index = 0x0001000200030004ULL;
  return f;
}

// The text of a record that knows one file, written an hour after its pass.
std::string RecordText() {
  VerifiedRecord r(kFolder, 7);
  r.StartAfresh(kNow);
  r.Matched(kPath, kDigest, Facts(), kNow + kHour / 2);
  return r.Text(kNow + kHour);
}

// The same record text with one line replaced (the check value recomputed,
// so that only the line's meaning differs).
std::string WithLine(const std::string& text, const std::string& start, const std::string& line) {
  std::string body = text.substr(0, text.rfind("check "));
  const std::size_t at = body.find("\n" + start) + 1;
  body.replace(at, body.find('\n', at) - at, line);
  char digest[33];
  DigestBuffer(body.data(), body.size(), digest);
  return body + "check " + digest + "\n";
}

TEST(VerifiedRecord, VouchesOnlyWhenEverythingStillAgrees) {
  VerifiedRecord r(kFolder, 7);
  ASSERT_EQ(r.Adopt(RecordText(), kNow + 2 * kHour), VerifiedRecord::Refusal::kNone);
  ASSERT_EQ(r.Size(), 1u);
  EXPECT_FALSE(r.Changed());

  struct Row {
    const char* what;
    void (*change)(FileFacts&);
    const char* path;
    const char* digest;
    Verdict verdict;
  };
  const Row rows[] = {
      {"unchanged", [](FileFacts&) {}, kPath, kDigest, Verdict::kVouched},
      {"other size", [](FileFacts& f) { f.size += 1; }, kPath, kDigest, Verdict::kFacts},
      {"newer time", [](FileFacts& f) { f.lastWrite += 1; }, kPath, kDigest, Verdict::kFacts},
      {"other file number", [](FileFacts& f) { f.index ^= 1; }, kPath, kDigest, Verdict::kFacts},
      {"other volume", [](FileFacts& f) { f.volume ^= 1; }, kPath, kDigest, Verdict::kFacts},
      {"digest changed", [](FileFacts&) {}, kPath, kOtherDigest, Verdict::kDigest},
      {"digest changed in its last character", [](FileFacts&) {}, kPath, "0123456789abcdef0123456789abcdee",
       Verdict::kDigest},
      {"unknown path", [](FileFacts&) {}, "C:\\Ulmet\\Data\\pack 02.pak", kDigest, Verdict::kNoRecord},
      {"path in other case", [](FileFacts&) {}, "C:\\Ulmet\\data\\pack 01.pak", kDigest, Verdict::kNoRecord},
  };
  for (const Row& row : rows) {
    FileFacts now = Facts();
    row.change(now);
    EXPECT_EQ(r.Check(row.path, row.digest, now), row.verdict) << row.what;
  }
}

// A file written in the tick it was looked at, or after the record was
// written, may have changed unseen: it is read, and never recorded so.
TEST(VerifiedRecord, RecentlyWrittenFilesAreReadAgain) {
  for (const uint64_t lastWrite : {kNow + kHour / 2, kNow + kHour / 2 + 1}) {
    VerifiedRecord r(kFolder, 7);
    r.StartAfresh(kNow);
    FileFacts f = Facts();
    f.lastWrite = lastWrite;
    r.Matched(kPath, kDigest, f, kNow + kHour / 2);
    EXPECT_EQ(r.Size(), 0u);
    EXPECT_EQ(r.Check(kPath, kDigest, f), Verdict::kNoRecord);
  }
  // Written after the look but before the record: the record's own time.
  FileFacts f = Facts();
  f.lastWrite = kNow + kHour / 2 + 10;
  VerifiedRecord r(kFolder, 7);
  r.StartAfresh(kNow);
  r.Matched(kPath, kDigest, f, kNow + kHour);
  VerifiedRecord later(kFolder, 7);
  ASSERT_EQ(later.Adopt(r.Text(kNow + kHour / 2), kNow + 2 * kHour), VerifiedRecord::Refusal::kNone);
  EXPECT_EQ(later.Check(kPath, kDigest, f), Verdict::kRecent);
  // ... unless this run looked at it after its write (a file it made or read).
  later.Matched(kPath, kDigest, f, kNow + 3 * kHour);
  EXPECT_EQ(later.Check(kPath, kDigest, f), Verdict::kVouched);
  char digest[33];
  EXPECT_TRUE(later.Unchanged(kPath, f, digest));

  // A record file that holds an entry looked at in the tick its file was
  // written (no run writes one, but the file is not ours alone).
  const FileFacts facts = Facts();
  const std::string tick = std::to_string(facts.lastWrite);
  const std::string line = "file " + std::to_string(facts.size) + " " + tick + " " + std::to_string(facts.volume) +
                           " " + std::to_string(facts.index) + " " + tick + " " + kDigest + " " + kPath;
  VerifiedRecord adopted(kFolder, 7);
  ASSERT_EQ(adopted.Adopt(WithLine(RecordText(), "file ", line), kNow + 2 * kHour), VerifiedRecord::Refusal::kNone);
  EXPECT_EQ(adopted.Check(kPath, kDigest, facts), Verdict::kRecent);
}

TEST(VerifiedRecord, EveryDoubtAboutTheFileRefusesItWhole) {
  const std::string good = RecordText();
  std::string flipped = good;
  flipped[flipped.find("file ") + 5] ^= 1;
  struct Row {
    const char* what;
    std::string text;
    uint64_t now;
    VerifiedRecord::Refusal refusal;
  } rows[] = {
      {"a byte changed", flipped, kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"cut short", good.substr(0, good.size() - 10), kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"check line missing", good.substr(0, good.rfind("check ")), kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"empty", "", kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"unknown header", WithLine(good, "ULVERIFIED", "ULVERIFIED 2"), kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"entry outside the folder", WithLine(good, "file ", "file 1 2 3 4 5 " + std::string(kDigest) + " D:\\x"),
       kNow + kHour, VerifiedRecord::Refusal::kDamaged},
      {"another client folder", WithLine(good, "folder ", "folder D:\\Games\\Ulmet\\"), kNow + kHour,
       VerifiedRecord::Refusal::kOtherFolder},
      {"seven days after its full pass", good, kNow + 7 * ul::kFileTimeDay, VerifiedRecord::Refusal::kExpired},
      {"a full pass in the future", good, kNow - 1, VerifiedRecord::Refusal::kExpired},
  };
  for (const Row& row : rows) {
    VerifiedRecord r(kFolder, 7);
    EXPECT_EQ(r.Adopt(row.text, row.now), row.refusal) << row.what;
    EXPECT_EQ(r.Size(), 0u) << row.what;
    EXPECT_EQ(r.Check(kPath, kDigest, Facts()), Verdict::kNoRecord) << row.what;
    EXPECT_TRUE(r.Changed()) << row.what << ": a refused record is renewed";
  }
  VerifiedRecord r(kFolder, 7);
  EXPECT_EQ(r.Adopt(good, kNow + 7 * ul::kFileTimeDay - 1), VerifiedRecord::Refusal::kNone);
}

// A run keeps the full pass's time of the record it took, so that the
// expiry comes whatever the runs in between recorded; only a renewed record
// starts from its own pass.
TEST(VerifiedRecord, RunsInBetweenDoNotPutOffTheFullPass) {
  VerifiedRecord second(kFolder, 7);
  ASSERT_EQ(second.Adopt(RecordText(), kNow + 3 * ul::kFileTimeDay), VerifiedRecord::Refusal::kNone);
  second.Matched("C:\\Ulmet\\new.dat", kOtherDigest, Facts(), kNow + 3 * ul::kFileTimeDay);
  const std::string text = second.Text(kNow + 3 * ul::kFileTimeDay);
  VerifiedRecord third(kFolder, 7);
  EXPECT_EQ(third.Adopt(text, kNow + 7 * ul::kFileTimeDay), VerifiedRecord::Refusal::kExpired);
  VerifiedRecord fourth(kFolder, 7);
  ASSERT_EQ(fourth.Adopt(text, kNow + 6 * ul::kFileTimeDay), VerifiedRecord::Refusal::kNone);
  EXPECT_EQ(fourth.Size(), 2u);
}

// Rolling, the record never goes stale whole: each file falls due on its
// own, days after its last read, and a start's share of reading again is
// what makes every file come round within the days.
TEST(VerifiedRecord, RollingRecordsFallDueFileByFile) {
  const std::string text = RecordText();  // one file, read at kNow + half an hour
  const struct {
    const char* what;
    uint64_t at;
    Verdict verdict;
  } rows[] = {
      {"a day later", kNow + ul::kFileTimeDay, Verdict::kVouched},
      {"just before its days", kNow + 7 * ul::kFileTimeDay, Verdict::kVouched},
      {"its days after its read", kNow + 7 * ul::kFileTimeDay + kHour / 2, Verdict::kDue},
      {"a month later", kNow + 30 * ul::kFileTimeDay, Verdict::kDue},
  };
  for (const auto& row : rows) {
    VerifiedRecord r(kFolder, 7, true);
    ASSERT_EQ(r.Adopt(text, row.at), VerifiedRecord::Refusal::kNone) << row.what;
    r.MarkDue(row.at);
    EXPECT_EQ(r.Check(kPath, kDigest, Facts()), row.verdict) << row.what;
    char digest[33];
    EXPECT_TRUE(r.Unchanged(kPath, Facts(), digest)) << row.what;
    EXPECT_STREQ(digest, kDigest);
  }
  VerifiedRecord whole(kFolder, 7);
  EXPECT_EQ(whole.Adopt(text, kNow + 30 * ul::kFileTimeDay), VerifiedRecord::Refusal::kExpired);
  // The share: the cost and the costliest file once more, over one day less
  // than the days, rounded up.
  VerifiedRecord r(kFolder, 7, true);
  r.StartAfresh(kNow);
  for (int i = 0; i < 6; ++i) r.Matched(std::string(kFolder) + std::to_string(i), kDigest, Facts(), kNow + kHour);
  const uint64_t one = ul::ReadCostOf(Facts().size);
  EXPECT_EQ(r.Cost(), 6 * one);
  EXPECT_EQ(r.DailyShare(), (7 * one + 5) / 6);
  EXPECT_EQ(r.LookedAt(std::string(kFolder) + "0"), kNow + kHour);
  FileFacts other = Facts();
  other.size += 1;
  char digest[33];
  EXPECT_FALSE(r.Unchanged(std::string(kFolder) + "0", other, digest));
  EXPECT_EQ(r.HoursSinceWritten(kNow + 5 * kHour), 24) << "a record this run began";

  // A start makes up the whole hours since the record was written (an hour
  // after its pass), up to a day's.
  const struct {
    uint64_t at;
    int hours;
  } since[] = {{kNow + kHour + kHour / 2, 0}, {kNow + 6 * kHour, 5}, {kNow + 3 * ul::kFileTimeDay, 24}, {kNow, 24}};
  for (const auto& row : since) {
    VerifiedRecord adopted(kFolder, 7, true);
    adopted.Adopt(text, row.at);
    EXPECT_EQ(adopted.HoursSinceWritten(row.at), row.hours) << (row.at - kNow) / kHour << " hours after the pass";
  }
}

// The record's text with extra lines put in after its line that begins
// with after (the check value recomputed).
std::string WithLinesAfter(const std::string& text, const std::string& after, const std::string& lines) {
  std::string body = text.substr(0, text.rfind("check "));
  const std::size_t at = body.find('\n', body.find("\n" + after) + 1) + 1;
  body.insert(at, lines);
  char digest[33];
  DigestBuffer(body.data(), body.size(), digest);
  return body + "check " + digest + "\n";
}

// Rolling, a big file is read again in parts over several starts: where
// the read came to is kept with the file's entry and handed back only while
// the file is as it was; the next whole read (or a forgotten file) ends it.
// What reading a file again costs a start: its whole chunks, and 128 KiB
// for finding, opening and checking it.
TEST(VerifiedRecord, AFilesReadCostIsItsChunksAndItsOpening) {
  const struct {
    uint64_t size, cost;
  } rows[] = {{0, 131072}, {1, 163840}, {32768, 163840}, {32769, 196608}, {5000000000ULL, 5000003584ULL + 131072}};
  for (const auto& row : rows) EXPECT_EQ(ul::ReadCostOf(row.size), row.cost) << row.size;
}

TEST(VerifiedRecord, AReadPausedInAFileIsKeptUntilTheFileChanges) {
  const uint64_t day = kNow + ul::kFileTimeDay;
  DigestProgress part;
  part.bytes = 3 * 32768;
  std::memcpy(part.state, kOtherDigest, 33);
  VerifiedRecord first(kFolder, 7, true);
  ASSERT_EQ(first.Adopt(RecordText(), day), VerifiedRecord::Refusal::kNone);
  first.Paused(kPath, part, day);
  EXPECT_TRUE(first.Changed());
  const std::string text = first.Text(day + kHour);

  VerifiedRecord next(kFolder, 7, true);
  ASSERT_EQ(next.Adopt(text, day + ul::kFileTimeDay), VerifiedRecord::Refusal::kNone);
  DigestProgress got;
  uint64_t begunAt = 0;
  ASSERT_TRUE(next.Progress(kPath, Facts(), &got, &begunAt));
  EXPECT_EQ(got.bytes, part.bytes);
  EXPECT_STREQ(got.state, kOtherDigest);
  EXPECT_EQ(begunAt, day);
  EXPECT_EQ(next.Text(day + kHour), text);
  FileFacts touched = Facts();
  touched.lastWrite += 1;
  EXPECT_FALSE(next.Progress(kPath, touched, &got, &begunAt));
  next.Matched(kPath, kDigest, Facts(), day + ul::kFileTimeDay);
  EXPECT_FALSE(next.Progress(kPath, Facts(), &got, &begunAt));
  EXPECT_EQ(next.Text(day).find("\npart "), std::string::npos);

  // What cannot be a pause in this file is neither kept nor taken.
  const struct {
    const char* what;
    uint64_t bytes;
    uint64_t begunAt;
  } wrong[] = {
      {"inside a chunk", 32769, day},
      {"past the file's end", (Facts().size / 32768 + 1) * 32768, day},
      {"begun before the file's last read", 32768, kNow},
  };
  for (const auto& row : wrong) {
    DigestProgress p = part;
    p.bytes = row.bytes;
    VerifiedRecord r(kFolder, 7, true);
    ASSERT_EQ(r.Adopt(RecordText(), day), VerifiedRecord::Refusal::kNone);
    r.Paused(kPath, p, row.begunAt);
    EXPECT_FALSE(r.Progress(kPath, Facts(), &got, &begunAt)) << row.what;
    const std::string line = "part " + std::to_string(row.bytes) + " " + std::to_string(row.begunAt) + " " +
                             kOtherDigest + "\n";
    EXPECT_EQ(r.Adopt(WithLinesAfter(RecordText(), "file ", line), day), VerifiedRecord::Refusal::kDamaged)
        << row.what;
  }
  const std::string good = "part 32768 " + std::to_string(day) + " " + kOtherDigest + "\n";
  const struct {
    const char* what;
    std::string text;
  } damaged[] = {
      {"before any file", WithLinesAfter(RecordText(), "written ", good)},
      {"twice", WithLinesAfter(RecordText(), "file ", good + good)},
      {"a state that is no digest", WithLinesAfter(RecordText(), "file ", "part 32768 " + std::to_string(day) +
                                                                             " 0123456789ABCDEF0123456789abcdef\n")},
  };
  for (const auto& row : damaged) {
    VerifiedRecord r(kFolder, 7, true);
    EXPECT_EQ(r.Adopt(row.text, day), VerifiedRecord::Refusal::kDamaged) << row.what;
  }
  VerifiedRecord r(kFolder, 7, true);
  EXPECT_EQ(r.Adopt(WithLinesAfter(RecordText(), "file ", good), day), VerifiedRecord::Refusal::kNone);
}

TEST(VerifiedRecord, ForgottenAndUnlistedFilesGo) {
  VerifiedRecord r(kFolder, 7);
  ASSERT_EQ(r.Adopt(RecordText(), kNow + kHour), VerifiedRecord::Refusal::kNone);
  r.Matched("C:\\Ulmet\\b.dat", kDigest, Facts(), kNow + kHour);
  r.DropUnseen();  // the pack was never asked about: the list no longer names it
  EXPECT_EQ(r.Check(kPath, kDigest, Facts()), Verdict::kNoRecord);
  EXPECT_EQ(r.Check("C:\\Ulmet\\b.dat", kDigest, Facts()), Verdict::kVouched);
  r.Forget("C:\\Ulmet\\b.dat");
  EXPECT_EQ(r.Size(), 0u);
  // Names the record cannot hold or that lie elsewhere are never recorded.
  for (const char* path : {"D:\\b.dat", "C:\\Ulmet\\", "C:\\Ulmet\\a\nb"}) {
    r.Matched(path, kDigest, Facts(), kNow + kHour);
    EXPECT_EQ(r.Size(), 0u) << path;
  }
}

TEST(VerifiedRecord, SectionValue) {
  const struct {
    const char* value;
    int days;
  } rows[] = {{"on", 7}, {"on 1", 1}, {"on 30", 30}, {"on 3650", 3650}, {"off", 0}, {"", 0},
              {"on 0", 0}, {"on 3651", 0}, {"on -2", 0}, {"on 7 ", 0}, {"ON", 0}, {"on7", 0}};
  for (const auto& row : rows) EXPECT_EQ(ParseVerifiedStateValue(row.value), row.days) << row.value;

  // In the program configuration: off unless the section says so.
  for (const auto& c : {std::make_pair("", 0), std::make_pair("[VERIFIEDSTATE]\non 14\n", 14),
                        std::make_pair("[VERIFIEDSTATE]\n; days\non\n", 7)}) {
    testsupport::TempFile file(std::string("[INSTANCENUMBER]\n5001\n") + c.first + "[CHECKUP]\n0\n");
    std::FILE* f = file.OpenText();
    ProgramConfig config;
    EXPECT_TRUE(ParseProgramConfig(f, false, nullptr, &config));
    EXPECT_EQ(config.verifiedStateDays, c.second) << c.first;
  }
}

}  // namespace
