// Scenario harness: one run of the real Ulmet.exe under Wine against the
// test bed, written as a short story.
//
//   TEST_F(Scenario, Something) {
//     Given().InstalledClient(1000)
//            .PublishedFile("a.dll", "new a")
//            .Release("version 1001 a.dll")
//            .Fault("/Ulmet3/files/a.dll", "status", "status=404")
//            .Answers("first");
//     Run(LaunchArg(2));
//     ExpectBox("...");
//     ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
//   }
//
// Every scenario starts from a clean prefix state: the client's registry
// keys removed, the client folder and the updater's temporary files gone, the
// browser stand-in registered for http. What Given() describes is then laid
// out, the server tree published and served, faults armed and the answerer
// started; Run() starts Ulmet.exe under a time limit and collects the trace,
// the logs of the stand-ins and the server, and screenshots. Everything a
// scenario produced stays in its output folder (OutputDir()).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/crash_log.h"
#include "common/jsonl.h"

namespace scn {

// The launch argument "5001\f<kind>" with "\f<token>" when a token is given.
std::string LaunchArg(int kind, const std::string& token = "");
// The Windows name of a Unix path under Wine ("Z:\\work\\...").
std::string WindowsPathOf(const std::string& unixPath);
// How a started program's command line ends: the argument in double quotes.
std::string QuotedArg(const std::string& arg);
// Bytes that look random (a fixed xorshift stream per seed): contents of
// large files that no compression or pattern shortcut makes cheap.
std::string Noise(std::size_t bytes, uint32_t seed = 2463534242u);
// Whether two files hold the same bytes, read a megabyte at a time (files
// of gigabytes).
bool SameFile(const std::string& a, const std::string& b);
// The wall clock as a Windows file time (100 ns steps since 1601, UTC).
uint64_t FileTimeNow();
// ULMET_BENCH_MAKE_ONLY=1: a benchmark makes its clients and trees and ends
// there (skipped), without the port or Wine, so that they can be made while
// another run holds the port.
bool BenchMakeOnly();
// Whether this machine runs 32-bit programs (scripts/machine.sh says): where
// it does not, the Windows programs under test are the 64-bit build, and a
// scenario that needs a 32-bit program of its own is skipped.
bool MachineRunsI386();

struct Paths {
  std::string winBin;      // cross tree's bin: Ulmet.exe and the Windows stand-ins
  std::string nativeBin;   // testbed_server
  std::string sourceDir;
  std::string outRoot;     // scenario output folders go below
  std::string prefix;      // WINEPREFIX
  std::string configHost;  // the host Ulmet.exe was built with
  std::string homePage;
};
const Paths& TestPaths();
// The stand-in program (UlmetMain.exe of the cross tree), for installers
// and follow-up programs in a release.
std::string StandInProgram();

// Windows paths of the prefix used by the scenarios.
constexpr char kClientFolder[] = "C:\\Ulmet\\";

class World {
 public:
  // The installed client: MainPath, AppVersion and the updater folder
  // ("PatchPath") under HKLM\Software\ULMET, and UlmetMain.exe in C:\Ulmet.
  World& InstalledClient(int version);
  // The same, installed for the current user only: the values under
  // HKCU\Software\ULMET (none in HKLM) and "[REGISTRY] HK_CURRENT_USER" in
  // the program configuration.
  World& InstalledClientForCurrentUser(int version);
  World& ClientFile(const std::string& relative, const std::string& content);
  // A name in the client folder that is a link to unixTarget, made by the
  // Unix side: hard (the same file under two names) or symbolic (which Wine
  // shows as a reparse point where it leads to a folder).
  World& ClientLink(const std::string& relative, const std::string& unixTarget, bool hard);
  // The installed client (as InstalledClient) is the whole content of this
  // folder on the Unix side, Ulmet.exe and UlmetMain.exe included.
  World& InstalledFolder(const std::string& unixFolder, int version);
  // The client (and the updater beside it) installed in this folder instead
  // of kClientFolder (a Windows path ending in '\', on drive C:).
  World& ClientFolderAt(const std::string& windowsFolder);
  // A file of the client folder registered with the system's regsvr32
  // before the run (a component the installer registered).
  World& Registered(const std::string& relative);
  // The same, with the folder's files hard-linked instead of copied (for
  // clients of gigabytes): the run must not change them.
  World& InstalledFolderLinked(const std::string& unixFolder, int version);
  World& NoClientModule();  // no UlmetMain.exe in the client folder
  // The stand-in program copied into the client folder under this name
  // (for example "Update3.exe" or "uninstall.exe").
  World& ClientProgram(const std::string& relative);
  // UlmetMain.exe already runs when the updater starts (its start record
  // is not counted among the programs that the run started).
  World& ClientRunning();
  // A file of the client folder held open by another process during the run
  // (for reading, without FILE_SHARE_DELETE): it can be neither renamed nor
  // deleted, as when a browser has the component loaded.
  World& HeldOpen(const std::string& relative);
  // A registry value: key like "HKLM\\Software\\ULMET" or "HKCU\\...".
  World& Registry(const std::string& key, const std::string& name, const std::string& value);
  // A key removed with everything below it before the run (for keys that the
  // reset does not touch, e.g. "HKCR\\Brevix.Quillet").
  World& RegistryKeyRemoved(const std::string& key);
  World& CrashLog(const std::string& fileName, const tb::CrashLog& log = tb::CrashLog());
  // The newest client as the release publishes it (besides UlmetMain.exe).
  World& PublishedFile(const std::string& relative, const std::string& content);
  // Statements of the release description (see testbed/README.md).
  World& Release(const std::string& statements);
  // A file of the server tree written over or beside the published ones.
  World& ServerFile(const std::string& treePath, const std::string& content);
  // The same with size bytes, sparse (zeros the disk does not hold) behind
  // content: files of gigabytes for a test of seconds.
  World& ServerFileOfSize(const std::string& treePath, const std::string& content, uint64_t size);
  // A published file served once more under another path of the tree (for
  // example the program configuration where a directory record points).
  World& ServerFileCopy(const std::string& fromTreePath, const std::string& toTreePath);
  World& Fault(const std::string& path, const std::string& kind, const std::string& params = "");
  // The server of the next start (RunAgain) answers without the faults
  // given so far.
  World& FaultsMended();
  World& ServerDown();
  World& ServedByNginx();
  // The test server's files leave at this many Mbit/s at most, every
  // connection together (one line shared by all requests).
  World& LineRate(double mbit);
  // This tree is served as it stands; nothing is published for the run.
  World& ServedTree(const std::string& unixTree);
  // The updater built with the test release key (bin/signed/Ulmet.exe), and
  // the published tree signed with that key ("ulmet-publish sign") before
  // ServerFile and ServerFileRemoved change it.
  World& SignedBuild();
  // The tree signed with tests/keys/<keyName>.key instead (the build stays).
  World& SignedWith(const std::string& keyName);
  // A file of the published (and signed) tree deleted before the run.
  World& ServerFileRemoved(const std::string& treePath);
  // A system DLL that the updater's process cannot load (Wine's override
  // "name="), as on a Windows version that has none.
  World& SystemLibraryMissing(const std::string& dllName);
  // Answers for the message boxes, one per box: "first", "cancel", "none".
  World& Answers(const std::string& commaList);
  World& TimeLimit(double seconds);
  // The updater is killed (as a user ending it) as soon as the server has
  // sent at least this many body bytes in answers that ended; the next
  // run (RunAgain) goes on unkilled.
  World& KillWhenSent(long long bytes);
  // More of Wine's debug channels for the updater's run (for example
  // "+timestamp" or "+relay"); their lines go to trace.log with the trace.
  World& WineDebug(const std::string& channels);
  // A probe ("tbctl probe") sends WM_NULL to the updater's main dialog every
  // 100 ms while the dialog exists, shown or not; with closeAfterSeconds it
  // also closes the dialog (WM_CLOSE, as the close box does) that long after
  // it first found it.
  World& ProbeWindow(double closeAfterSeconds = 0);
  // Outside the client folder (an earlier installation, for example), by
  // Windows path on drive C: a folder made afresh (removed with everything in
  // it first), a file, and the stand-in program copied under any name.
  World& OutsideFolder(const std::string& windowsPath);
  World& OutsideFile(const std::string& windowsPath, const std::string& content);
  World& OutsideProgram(const std::string& windowsPath);
  // A file in the Windows Temp folder as an earlier run may have left it
  // (written after the prefix has been cleaned).
  World& TempFile(const std::string& name, const std::string& content);

 private:
  friend class Scenario;
  std::string clientFolder_ = kClientFolder;
  std::vector<std::string> registered_;
  bool installed_ = false;
  bool installedForUser_ = false;
  bool clientModule_ = true;
  bool clientRunning_ = false;
  int installedVersion_ = 0;
  std::vector<std::pair<std::string, std::string>> clientFiles_;
  struct Link {
    std::string relative, target;
    bool hard;
  };
  std::vector<Link> clientLinks_;
  std::vector<std::string> clientPrograms_;
  std::vector<std::vector<std::string>> registry_;
  std::vector<std::string> heldFiles_;
  std::vector<std::string> removedKeys_;
  std::vector<std::pair<std::string, tb::CrashLog>> crashLogs_;
  std::vector<std::pair<std::string, std::string>> publishedFiles_;
  std::string release_;
  std::vector<std::pair<std::string, std::string>> serverFiles_;
  std::vector<std::pair<std::string, uint64_t>> serverFileSizes_;
  std::vector<std::pair<std::string, std::string>> serverCopies_;
  std::vector<std::vector<std::string>> faults_;
  bool serverDown_ = false;
  bool nginx_ = false;
  double lineMbit_ = 0;
  std::string installedFolder_;
  bool installedLinked_ = false;
  bool probe_ = false;
  double probeCloseAfter_ = 0;
  std::string servedTree_;
  bool signedBuild_ = false;
  std::string signingKey_;  // tests/keys/<name>.key; empty: the tree is not signed
  std::vector<std::string> removedServerFiles_;
  std::string missingLibraries_;  // ";name=" each
  std::string answers_ = "first";
  double timeLimit_ = 60;
  long long killWhenSent_ = 0;
  std::string wineDebug_;
  std::vector<std::string> outsideFolders_;
  std::vector<std::pair<std::string, std::string>> outsideFiles_;
  std::vector<std::string> outsidePrograms_;
  std::vector<std::pair<std::string, std::string>> tempFiles_;
};

struct Box {
  std::string kind, caption, text, answer;
  bool dialogVisible = false;  // the updater's main dialog was on screen when the box came
};

struct RunResult {
  int exitCode = -1;
  bool timedOut = false;
  bool killed = false;  // by World::KillWhenSent
  double seconds = 0;
  int attempts = 0;
  long long startEpochMs = 0;  // when Ulmet.exe's process was started
  long peakKb = 0;             // its peak resident memory, as last read while it ran
  long peakAnonKb = 0;         // the most anonymous memory (not mapped files) seen while it ran
};

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  World& Given() { return world_; }
  void Run(const std::string& argument);
  void RunWithoutArgument();
  void RunWithArguments(const std::vector<std::string>& arguments);
  // The next start of the updater on what the run before left in the prefix
  // (the client folder, the registry), against the tree published again from
  // Given() (so a change made between the two counts). The records of the
  // start before move to start-<n>/ in the output folder.
  void RunAgain(const std::string& argument);

  // What happened.
  const RunResult& Result() const { return result_; }
  std::vector<std::string> Trace() const;   // DebugTrace lines, UTF-8, without the line feed
  std::vector<Box> Boxes() const;
  // The updater's main dialog ("ULMET Version Checking"): how often it came
  // on screen, and what appeared in which order: "box:<text>" and "dialog"
  // (each one screenshot as box-N.png and dialog-N.png).
  int DialogShownCount() const;
  std::vector<std::string> ScreenOrder() const;
  std::vector<tb::Record> Starts() const;   // programs started (stand-ins' records)
  std::vector<std::string> Pages() const;   // addresses opened in the browser
  std::vector<tb::Record> Requests() const; // server log (bytes as sent)
  // Body bytes the test server sent in answers for path (every path when
  // empty), answers cut short included.
  long long BytesSent(const std::string& path = "") const;
  std::string RegistryValue(const std::string& key, const std::string& name) const;  // "" when missing
  bool RegistryKeyExists(const std::string& key) const;  // key like "HKCU\\Software\\ULMET3"
  bool ClientFileExists(const std::string& relative) const;
  std::string ClientFileText(const std::string& relative) const;
  std::string OutputDir() const { return out_; }
  // Where the client is installed: kClientFolder unless Given() says.
  const std::string& ClientFolder() const { return world_.clientFolder_; }
  std::string UnixPath(const std::string& windowsPath) const;
  // The probe's findings (World::ProbeWindow): how long each answer took,
  // in ms (5000 for none within 5 s), and whether it closed the dialog.
  std::vector<double> WindowAnswersMs() const;
  bool ProbeClosedWindow() const;

  // A benchmark's figure: "name value" on standard output and in
  // figures.txt of the output folder (scripts/bench.sh reads it there).
  void Figure(const std::string& name, double value);

  // Expectations (they wait a little for records of programs that are still
  // starting).
  void ExpectTrace(const std::string& fragment);
  void ExpectNoTrace(const std::string& fragment);
  void ExpectBox(const std::string& message, const std::string& caption = "");
  void ExpectBoxes(const std::vector<std::string>& messages);
  void ExpectNoBox();
  void ExpectPageOpened(const std::string& url);
  void ExpectNoPageOpened();
  void ExpectStarted(const std::string& program, const std::string& commandLineEnd);
  void ExpectNothingStarted();
  void ExpectNothingStartedBut(const std::vector<std::string>& programs);
  void ExpectRequested(const std::string& path);
  void ExpectNotRequested(const std::string& path);
  void ExpectPosted(const std::string& path, const std::string& bodyFragment);
  void ExpectRegistry(const std::string& key, const std::string& name, const std::string& value);
  void ExpectClientFile(const std::string& relative, const std::string& content);
  void ExpectNoClientFile(const std::string& relative);
  // The client folder holds exactly the files and folders of unixFolder,
  // byte for byte (besides the "UserData" folder that every run makes and
  // the verified-state record "ULVerified.dat").
  void ExpectClientFolderEquals(const std::string& unixFolder);
  void ExpectEndedWithin(double seconds);

 private:
  void Prepare();
  void ResetPrefix();
  void PublishTree();
  void StartServer();
  void StopServer();
  void StartAnswerer();
  void RunOnce(const std::vector<std::string>& arguments);
  void Finish();
  void Screenshot(const std::string& name);
  std::vector<tb::Record> Log(const std::string& file) const;
  bool WaitFor(const std::function<bool()>& done, double seconds) const;
  void WriteSummary();

  World world_;
  RunResult result_;
  std::string out_;
  std::string treeRoot_;  // the folder the server serves
  std::map<std::string, std::string> wineEnv_;
  int serverPid_ = -1;
  int answererPid_ = -1;
  size_t startsBefore_ = 0;
  std::vector<int> holderPids_;
  void HoldFiles();
  bool finished_ = false;
  int starts_ = 0;
};

}  // namespace scn
