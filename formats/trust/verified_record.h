// The verified-state record: for each installed file that the digest pass
// read and found matching, what the file looked like then (size, last-write
// time, identity) and the expected digest it matched. A later run may count
// such a file as matching without reading it, as long as nothing about it
// has changed and the hash list still expects the same digest.
//
// The rule is one-sided: the record can only spare a read. Anything that
// raises a doubt (no record, a damaged one, one made for another client
// folder, one older than the operator's number of days, a file whose facts
// or expected digest differ, a file written at or after the moment it was
// looked at) means reading the file as if there were no record.
//
// The file is text: a header, the client folder, two times, one line per
// file (after a file's line, rolling, the line of a read of it begun at an
// earlier start and not yet ended), and a last line with the MD5 of
// everything before it, so that a damaged or cut file is refused whole. Times are Windows file times (100 ns
// steps since 1601, UTC) in decimal.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "formats/trust/file_hasher.h"

namespace ul {

// What the system says about an installed file at one moment.
struct FileFacts {
  uint64_t size = 0;
  uint64_t lastWrite = 0;  // file time
  uint32_t volume = 0;     // the volume's serial number
  uint64_t index = 0;      // the file's number on that volume (0: none given)
  bool operator==(const FileFacts& o) const {
    return size == o.size && lastWrite == o.lastWrite && volume == o.volume && index == o.index;
  }
  bool operator!=(const FileFacts& o) const { return !(*this == o); }
};

// One day in file time.
constexpr uint64_t kFileTimeDay = 864000000000ULL;

// Why a file must be read (kVouched: it need not be).
enum class Verdict {
  kVouched,
  kNoRecord,   // no record for this path (or none usable at all)
  kDigest,     // the hash list expects another digest today
  kFacts,      // size, last-write time or identity changed, or no facts now
  kRecent,     // written at or after it was looked at, or after the record
  kDue,        // rolling: last read the record's days ago, or more
};
const char* VerdictName(Verdict v);

// What reading a file again costs a start, counted in bytes of reading: its
// chunks, and for finding, opening, checking and recording it what reading
// kFileReadCost takes (a fraction of a millisecond; under Wine about
// 0.2 ms). Counted so, a start that comes to thousands of small files reads
// fewer of them, and takes about as long as one that reads a big file.
constexpr uint64_t kFileReadCost = 128u << 10;
uint64_t ReadCostOf(uint64_t size);

// The share of a rolling record's reading again (ReadCostOf) that each
// daily start takes so that every file is read within days, over files that
// cost cost in all and the costliest biggest. The starts read the files in
// the order of their last reads, going on inside a big file across starts,
// and a file counts as read from the start its read began; so after a
// file's read began, the reading must go round every other file and then
// through the file itself before the file is due, days after that begin:
// the cost and the costliest file once more, over one day less than the
// days (a day's start reads its share), rounded up.
uint64_t DailyShareOf(uint64_t cost, uint64_t biggest, int days);

class VerifiedRecord {
 public:
  // Why a whole record file was not taken.
  enum class Refusal { kNone, kDamaged, kOtherFolder, kExpired };

  // A record for this client folder (the path every entry's path begins
  // with, exactly as the run resolves it) whose full pass goes stale after
  // days days. Rolling, it never goes stale whole: each file is due again
  // days after it was last read, and each start reads again some of those
  // read longest ago (Due, OldestFirst), so that no start reads every file.
  VerifiedRecord(const std::string& clientFolder, int days, bool rolling = false);

  // Takes the entries of a record file's text when nothing about it raises
  // a doubt at now (file time); otherwise keeps none and says why. Either
  // way the record then stands for a pass beginning at now: a refused or
  // missing record is renewed by this run's whole pass.
  Refusal Adopt(const std::string& text, uint64_t now);
  // No record file: a whole pass from now.
  void StartAfresh(uint64_t now);

  // Whether the file at path (as resolved below the client folder), which
  // the hash list expects to have expectedDigest (32 characters), may count
  // as matching with what the system says about it now.
  Verdict Check(const std::string& path, const char* expectedDigest, const FileFacts& now) const;

  // The digest the file at path had when it was last read, where what the
  // system says about it now is what it said then (and it was not written
  // at or after that look): whatever digest the hash list expects today.
  bool Unchanged(const std::string& path, const FileFacts& now, char (&digest)[33]) const;

  // The file at path was read, and matched digest; facts were taken at
  // lookedAt, before the read, and were the same after it.
  void Matched(const std::string& path, const char* digest, const FileFacts& facts, uint64_t lookedAt);
  // The file at path did not match, or could not be looked at: no record.
  void Forget(const std::string& path);
  // After a pass over the whole hash list: drop the entries of paths that
  // the list no longer names (those Check, Matched or Forget never saw).
  void DropUnseen();

  // The record file's text, written at writtenAt (file time).
  std::string Text(uint64_t writtenAt) const;
  // Whether the text would say something other than what was adopted.
  bool Changed() const { return changed_; }
  std::size_t Size() const { return entries_.size(); }

  // Rolling: the entries due at now (read days ago or more) say so in
  // Check from here on.
  void MarkDue(uint64_t now);
  // Rolling, a start reads a big file again in parts: where the read of the
  // file at path came to when an earlier start paused it, and when that read
  // began, as long as what the system says about the file now is what it
  // said when the file was last read whole (and it was not written since).
  bool Progress(const std::string& path, const FileFacts& now, DigestProgress* progress, uint64_t* begunAt) const;
  // The read of the file at path, begun at begunAt, paused at progress: the
  // next start goes on from there. Matched or Forget ends it.
  void Paused(const std::string& path, const DigestProgress& progress, uint64_t begunAt);
  // When the file at path was last read (0: no entry).
  uint64_t LookedAt(const std::string& path) const;
  // What reading every file the record holds again costs (ReadCostOf), and
  // the share of it that each daily start takes (DailyShareOf).
  uint64_t Cost() const;
  uint64_t DailyShare() const;
  // The whole hours, up to a day, from when the adopted record file was
  // written (the end of the last start) to now: a start makes up that part
  // of a day's share, so that a player who starts often reads a day's
  // share a day, not at every start. A day when no file was adopted.
  int HoursSinceWritten(uint64_t now) const;

 private:
  struct Entry {
    FileFacts facts;
    uint64_t lookedAt = 0;
    char digest[33] = {0};
    mutable bool seen = false;
    bool due = false;
    bool lookedThisRun = false;  // by Matched, not adopted from the file
    DigestProgress part;         // a read paused at part.bytes (0: none)
    uint64_t partBegunAt = 0;
  };
  static bool ParseFile(const std::string& line, Entry* e, std::string* path);
  static bool ParsePart(const std::string& line, Entry* e);
  static bool PartFits(const Entry& e, const DigestProgress& part, uint64_t begunAt);
  bool Racy(const Entry& e) const;

  std::string folder_;
  int days_;
  bool rolling_;
  uint64_t fullPassAt_ = 0;  // the start of the last pass that read every file
  uint64_t writtenAt_ = 0;   // when the adopted file was written
  std::map<std::string, Entry> entries_;
  bool changed_ = false;
};

}  // namespace ul
