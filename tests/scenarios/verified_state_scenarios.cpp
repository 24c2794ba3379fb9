// The verified-state record across two starts with nothing to update: the
// first start reads every listed file and records them; between the starts
// one thing changes; the second start reads what the change puts in doubt
// and, where the bytes differ, repairs the file. One row per change.
#include <filesystem>
#include <fstream>
#include <string>

#include "formats/trust/md5.h"
#include "harness/proc.h"
#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

const char kPack[] = "Data\\b.pak";
const char kPackRequest[] = "/Ulmet3/files/Data/b.pak";
const char kRecord[] = "C:\\Ulmet\\ULVerified.dat";
const std::string kPackBytes = Noise(100000, 5);   // four chunks
const std::string kOtherBytes = Noise(100000, 6);  // the same size

class VerifiedState;
struct Change {
  const char* name;
  void (*apply)(VerifiedState&);
  const char* trace;     // what the second start says about it
  const char* counts;    // its comparison's summary
  bool repaired;         // the pack was fetched again
  const char* packAfter;  // "pack", "other" or "server": the pack's bytes at the end
};

void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

class VerifiedState : public Scenario, public ::testing::WithParamInterface<Change> {
 public:
  std::string Pack() const { return UnixPath(std::string("C:\\Ulmet\\") + kPack); }

  // Other bytes of the same size in the same file, its time put back: the
  // size, the time and the identity say nothing happened.
  void OverwriteInPlace() {
    const auto time = fs::last_write_time(Pack());
    std::ofstream(Pack(), std::ios::binary | std::ios::trunc) << kOtherBytes;
    fs::last_write_time(Pack(), time);
  }
  void Touch() { fs::last_write_time(Pack(), fs::last_write_time(Pack()) + std::chrono::hours(1)); }
  // Another file under the same name with the old size and time.
  void Replace() {
    const auto time = fs::last_write_time(Pack());
    std::ofstream(Pack() + ".new", std::ios::binary) << kOtherBytes;
    fs::last_write_time(Pack() + ".new", time);
    fs::rename(Pack() + ".new", Pack());
  }
  // The record with one line replaced and its check value made right again,
  // so that only the line's meaning is wrong.
  void RewriteRecord(const std::string& start, const std::string& line) {
    const std::string text = ReadText(UnixPath(kRecord));
    std::string body = text.substr(0, text.rfind("check "));
    const std::size_t at = body.find("\n" + start) + 1;
    ASSERT_GT(at, 0u) << text;
    body.replace(at, body.find('\n', at) - at, line);
    char digest[33];
    DigestBuffer(body.data(), body.size(), digest);
    WriteText(UnixPath(kRecord), body + "check " + digest + "\n");
  }
  // The release's pack is other bytes now: the hash list expects another
  // digest.
  void ServeOtherPack() { Given().PublishedFile("Data/b.pak", kOtherBytes); }
  void DamageRecord() {
    std::string text = ReadText(UnixPath(kRecord));
    text[text.find("\nfile ") + 6] ^= 1;
    WriteText(UnixPath(kRecord), text);
  }
};

const Change kChanges[] = {
    {"Nothing", [](VerifiedState&) {}, "Verified record: 3 files",
     "3 files, 0 read, 3 vouched for by the record, 0 differ", false, "pack"},
    {"OtherSize",
     [](VerifiedState& s) { std::ofstream(s.Pack(), std::ios::binary | std::ios::app) << "x"; },
     "b.pak read again (size, time or identity changed)", "3 files, 1 read, 2 vouched for by the record, 1 differ",
     true, "pack"},
    {"NewerTimeSameBytes", [](VerifiedState& s) { s.Touch(); }, "b.pak read again (size, time or identity changed)",
     "3 files, 1 read, 2 vouched for by the record, 0 differ", false, "pack"},
    {"NewerTimeOtherBytes",
     [](VerifiedState& s) {
       s.OverwriteInPlace();
       s.Touch();
     },
     "b.pak read again (size, time or identity changed)", "3 files, 1 read, 2 vouched for by the record, 1 differ",
     true, "pack"},
    {"OtherIdentity", [](VerifiedState& s) { s.Replace(); }, "b.pak read again (size, time or identity changed)",
     "3 files, 1 read, 2 vouched for by the record, 1 differ", true, "pack"},
    {"OtherExpectedDigest", [](VerifiedState& s) { s.ServeOtherPack(); },
     "b.pak read again (expected digest changed)", "3 files, 1 read, 2 vouched for by the record, 1 differ", true,
     "other"},
    // The trade-off the operator opts into: bytes changed behind the
    // updater's back with size, time and identity as they were.
    {"SameFactsOtherBytes", [](VerifiedState& s) { s.OverwriteInPlace(); }, "Verified record: 3 files",
     "3 files, 0 read, 3 vouched for by the record, 0 differ", false, "other"},
    // Until the record is in doubt as a whole: then every file is read.
    {"DamagedRecord",
     [](VerifiedState& s) {
       s.OverwriteInPlace();
       s.DamageRecord();
     },
     "Verified record: damaged, every file is read", "3 files, 3 read, 0 vouched for by the record, 1 differ", true,
     "pack"},
    {"RecordOfAnotherFolder",
     [](VerifiedState& s) {
       s.OverwriteInPlace();
       s.RewriteRecord("folder ", "folder D:\\Games\\Ulmet\\");
     },
     "Verified record: written for another client folder, every file is read",
     "3 files, 3 read, 0 vouched for by the record, 1 differ", true, "pack"},
    {"ExpiredRecord",
     [](VerifiedState& s) {
       s.OverwriteInPlace();
       s.RewriteRecord("full ", "full " + std::to_string(FileTimeNow() - 8 * 864000000000ull));
     },
     "Verified record: older than its days, every file is read",
     "3 files, 3 read, 0 vouched for by the record, 1 differ", true, "pack"},
};

TEST_P(VerifiedState, SecondStartReadsWhatTheChangePutsInDoubt) {
  const Change& c = GetParam();
  Given().InstalledClient(1001)
         .ClientFile("a.dat", "alpha\n")
         .PublishedFile("a.dat", "alpha\n")
         .ClientFile(kPack, kPackBytes)
         .PublishedFile("Data/b.pak", kPackBytes)
         .Release("version 1001 a.dat")
         .Release("set VERIFIEDSTATE on 7");
  Run(LaunchArg(2));
  ExpectTrace("Verified record: none yet, every file is read");
  ExpectTrace("CheckInstalledFiles: 3 files, 3 read, 0 vouched for by the record, 0 differ");
  ExpectTrace("Verified record: 3 files written");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  if (HasFailure()) return;

  c.apply(*this);
  RunAgain(LaunchArg(2));
  ExpectTrace(c.trace);
  ExpectTrace(std::string("CheckInstalledFiles: ") + c.counts);
  if (c.repaired)
    ExpectRequested(kPackRequest);
  else
    ExpectNotRequested(kPackRequest);
  const std::string want = std::string(c.packAfter) == "pack" ? kPackBytes : kOtherBytes;
  EXPECT_TRUE(ClientFileText(kPack) == want) << "the pack's bytes at the end";
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  ExpectNoBox();
}

INSTANTIATE_TEST_SUITE_P(Change, VerifiedState, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<Change>& i) { return std::string(i.param.name); });

// No section, no record: every start reads every file, and nothing is
// written into the client folder.
class VerifiedStateOff : public Scenario {};

TEST_F(VerifiedStateOff, EveryStartReadsEveryFileWithoutTheSection) {
  Given().InstalledClient(1001)
         .ClientFile("a.dat", "alpha\n")
         .PublishedFile("a.dat", "alpha\n")
         .Release("version 1001 a.dat");
  Run(LaunchArg(2));
  RunAgain(LaunchArg(2));
  ExpectTrace("CheckInstalledFiles: 2 files, 2 read, 0 vouched for by the record, 0 differ");
  ExpectNoTrace("Verified record");
  ExpectNoClientFile("ULVerified.dat");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn
