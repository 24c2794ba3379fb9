// Downloads that the server spoils: the run either takes the file as it
// comes or repairs it through the digest list.
#include "harness/scenario.h"

namespace scn {
namespace {

using DownloadFault = Scenario;

TEST_F(DownloadFault, ConnectionDroppedMidBodyFailsTheDownloadAndTheRun) {
  // Wine's WinINet reports a dropped connection like a normal end of data;
  // only the byte count against Content-Length tells a cut body apart, and a
  // cut file must not count as downloaded.
  Given().InstalledClient(1000)
         .PublishedFile("big.dat", std::string(100000, 'g'))
         .Release("version 1001 big.dat")
         .Fault("/Ulmet3/files/big.dat", "cut", "bytes=40000");
  Run(LaunchArg(2));
  ExpectTrace("Error : 40000 of 100000 bytes");
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectNothingStarted();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

TEST_F(DownloadFault, FileBeyondTwoGigabytesCutShortIsNoDownload) {
  // A length past 2^31 is still a length: the cut must not be installed.
  const uint64_t size = (uint64_t{1} << 31) + 4096;
  Given().InstalledClient(1000)
         .ClientFile("huge.pak", "installed copy")
         .PublishedFile("huge.pak", "huge")
         .Release("version 1001 huge.pak")
         .ServerFileOfSize("/Ulmet3/files/huge.pak", "huge", size)
         .Fault("/Ulmet3/files/huge.pak", "cut", "bytes=1048576");
  Run(LaunchArg(2));
  ExpectTrace("Error : 1048576 of " + std::to_string(size) + " bytes");
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectClientFile("huge.pak", "installed copy");
  ExpectNothingStarted();
}

TEST_F(DownloadFault, BodyThatIsNotTheHashListsIsNotInstalled) {
  // Served whole and complete, but not the bytes the hash list names.
  Given().InstalledClient(1000)
         .ClientFile("b.dat", "installed copy")
         .PublishedFile("b.dat", "the release's copy")
         .Release("version 1001 b.dat")
         .ServerFile("/Ulmet3/files/b.dat", "another copy of it");
  Run(LaunchArg(2));
  ExpectTrace("Error : /Ulmet3/files/b.dat differs from the hash list");
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectClientFile("b.dat", "installed copy");
  ExpectNothingStarted();
}

TEST_F(DownloadFault, AnswerWithoutContentLengthIsTakenWhole) {
  std::string body(70000, 'n');
  Given().InstalledClient(1000)
         .PublishedFile("nolen.dat", body)
         .Release("version 1001 nolen.dat")
         .Fault("/Ulmet3/files/nolen.dat", "nolength");
  Run(LaunchArg(2));
  ExpectClientFile("nolen.dat", body);
  ExpectNoTrace("일부 파일 이상으로");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(DownloadFault, EmptyAnswerLeavesNoFileAndTheDigestListFetchesItAgain) {
  Given().InstalledClient(1000)
         .PublishedFile("e.dat", "content")
         .Release("version 1001 e.dat")
         .Fault("/Ulmet3/files/e.dat", "empty", "count=1");
  Run(LaunchArg(2));
  ExpectTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
  ExpectClientFile("e.dat", "content");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(DownloadFault, AuthenticationDemandIsNoFile) {
  Given().InstalledClient(1000)
         .ClientFile("auth.dat", "old copy")
         .PublishedFile("auth.dat", "secret")
         .Release("version 1001 auth.dat")
         .Fault("/Ulmet3/files/auth.dat", "status", "status=407");
  Run(LaunchArg(2));
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectClientFile("auth.dat", "old copy");
  ExpectNothingStarted();
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", "1000");
}

TEST_F(DownloadFault, SlowServerStillDeliversTheWholeFile) {
  std::string body(60000, 's');
  Given().InstalledClient(1000)
         .PublishedFile("slow.dat", body)
         .Release("version 1001 slow.dat")
         .Fault("/Ulmet3/files/slow.dat", "trickle", "bytes=15000 interval_ms=400")
         .Fault("/Ulmet3/UpdateList.dat", "delay", "delay_ms=1500");
  Run(LaunchArg(2));
  ExpectClientFile("slow.dat", body);
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  EXPECT_GE(Result().seconds, 2.5) << "the delays were not felt";
}

}  // namespace
}  // namespace scn
