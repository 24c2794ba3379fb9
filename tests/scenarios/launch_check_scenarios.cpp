// The comparison of the installed files before the client starts, on a
// client large enough for it to take seconds: the main dialog answers a
// probe's WM_NULL throughout, comes on screen while it works, and a close
// during it ends the run with nothing started and nothing half written.
#include <algorithm>
#include <filesystem>
#include <string>

#include "formats/trust/verified_record.h"
#include "harness/proc.h"
#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

class LaunchCheck : public Scenario {
 protected:
  // Nothing to update; the client holds one large listed file.
  void LargeClient(std::size_t megabytes) {
    const std::string pack = Noise(megabytes << 20, 77);
    Given().InstalledClient(1001)
           .ClientFile("Data\\pack01.pak", pack)
           .PublishedFile("Data/pack01.pak", pack)
           .Release("version 1001 Data\\pack01.pak")
           .TimeLimit(240);
  }
  // The large copies are of no use once the run has been looked at.
  void TearDown() override {
    Scenario::TearDown();
    std::error_code ec;
    fs::remove_all(OutputDir() + "/release/client/Data", ec);
    fs::remove_all(OutputDir() + "/tree/Ulmet3/files/Data", ec);
    fs::remove_all(UnixPath("C:\\Ulmet\\Data"), ec);
  }
};

TEST_F(LaunchCheck, WindowAnswersThroughoutTheComparisonOfA256MBClient) {
  LargeClient(256);
  Given().ProbeWindow();
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectTrace("CheckInstalledFiles: 2 files, 2 read, 0 vouched for by the record, 0 differ");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  const auto answers = WindowAnswersMs();
  // Seconds of reading, one probe every 100 ms.
  ASSERT_GE(answers.size(), 20u) << "see " << OutputDir() << "/probe.txt";
  EXPECT_LT(*std::max_element(answers.begin(), answers.end()), 1000.0)
      << "the dialog left a WM_NULL unanswered for a second; see " << OutputDir() << "/probe.txt";
  // A check of seconds is seen: the dialog comes on screen (dialog-1.png).
  EXPECT_EQ(DialogShownCount(), 1);
  EXPECT_TRUE(fs::exists(OutputDir() + "/dialog-1.png"));
}

TEST_F(LaunchCheck, CloseDuringTheComparisonEndsTheRunWithoutTheClient) {
  LargeClient(64);
  Given().Release("set VERIFIEDSTATE on 7").ProbeWindow(1.0);
  Run(LaunchArg(2));
  ASSERT_TRUE(ProbeClosedWindow()) << "see " << OutputDir() << "/probe.txt";
  ExpectTrace("CheckInstalledFiles: ended by a close request after 0 of 2 files");
  ExpectNoTrace("CheckInstalledFiles: 2 files");
  ExpectNoBox();
  ExpectNothingStarted();
  ExpectEndedWithin(60);
  // The record is whole and vouches for nothing that was not read through.
  const std::string record = ReadText(UnixPath("C:\\Ulmet\\ULVerified.dat"));
  ul::VerifiedRecord taken("C:\\Ulmet\\", 7);
  EXPECT_EQ(taken.Adopt(record, FileTimeNow()), ul::VerifiedRecord::Refusal::kNone) << record;
  EXPECT_EQ(taken.Size(), 0u) << record;
  EXPECT_FALSE(ClientFileExists("ULVerified.da_"));
}

}  // namespace
}  // namespace scn
