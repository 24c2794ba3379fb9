// The file update worker seen from outside: what a whole run leaves in the
// client folder, the registry and the programs it starts, for a normal
// update of several versions, the self-replacement, the page relay
// component, damaged and failed downloads and hostile names from the server.
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>

#include "harness/proc.h"
#include "tree/file_digest.h"
#include "publisher/publisher.h"
#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

using Worker = Scenario;

const char kRegistryKey[] = "HKLM\\Software\\ULMET";
const char kRedownloadTrace[] = "일부 파일 이상으로 다운로드를 다시시작합니다.";
const char kRetryTrace[] = "진행 도중에 오류가 발생하여 다시시도 합니다.";
const char kQuillet[] = "{DDC012F8-A786-4584-856D-044BC1F49414}";

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One entry of an archive built for a scenario; the date is the local time
// that the zip format stores.
struct ZipItem {
  std::string name;
  std::string data;
  int year = 2019, month = 3, day = 4, hour = 5, minute = 6, second = 8;
};

// The bytes of a zip archive with exactly these entry names (written through
// a scratch file in the scenario's output folder).
std::string ZipBytes(const std::string& scratch, const std::vector<ZipItem>& items) {
  zipFile zf = zipOpen(scratch.c_str(), APPEND_STATUS_CREATE);
  EXPECT_NE(zf, nullptr) << scratch;
  if (zf == nullptr) return "";
  for (const auto& item : items) {
    zip_fileinfo zi{};
    zi.tmz_date.tm_year = item.year;
    zi.tmz_date.tm_mon = item.month - 1;
    zi.tmz_date.tm_mday = item.day;
    zi.tmz_date.tm_hour = item.hour;
    zi.tmz_date.tm_min = item.minute;
    zi.tmz_date.tm_sec = item.second;
    bool ok = zipOpenNewFileInZip(zf, item.name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION) == ZIP_OK &&
              (item.data.empty() ||
               zipWriteInFileInZip(zf, item.data.data(), static_cast<unsigned>(item.data.size())) == ZIP_OK) &&
              zipCloseFileInZip(zf) == ZIP_OK;
    EXPECT_TRUE(ok) << "cannot add " << item.name << " to " << scratch;
  }
  EXPECT_EQ(zipClose(zf, nullptr), ZIP_OK);
  return ReadText(scratch);
}

// Every regular file below a folder, relative, with '/' between folders.
std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> files;
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) files.insert(fs::relative(it->path(), root).generic_string());
  }
  return files;
}

// Seconds since 1970 (UTC) of a local time in a zone without daylight saving.
long long UtcSeconds(const ZipItem& t, int zoneOffsetSeconds) {
  struct tm tm {};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return static_cast<long long>(timegm(&tm)) - zoneOffsetSeconds;
}

long long ModifiedSeconds(const std::string& unixPath) {
  struct stat st {};
  if (stat(unixPath.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_mtime);
}

// Requests for the update files, in order, by path below /Ulmet3/files/.
std::vector<std::string> FileRequests(const std::vector<tb::Record>& requests) {
  const std::string prefix = "/Ulmet3/files/";
  std::vector<std::string> out;
  for (const auto& r : requests) {
    const std::string& p = r.at("path");
    if (p.rfind(prefix, 0) == 0) out.push_back(p.substr(prefix.size()));
  }
  return out;
}

size_t CountTraces(const std::vector<std::string>& lines, const std::string& fragment) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(fragment) != std::string::npos;
  }));
}

// The whole text that "reg query KEY" prints (UTF-8), empty when the key is
// missing.
std::string RegistryKeyText(const std::string& key, const std::string& scratch) {
  ProcResult r = RunProcess({{"wine", "reg", "query", key}, {}, "", scratch, "/dev/null"}, 30);
  if (r.exitCode != 0) return "";
  return ReadText(scratch);
}

const std::string kQuilletServerKey = std::string("HKCR\\CLSID\\") + kQuillet + "\\InprocServer32";

// The page relay component published as bvx.dll, with no registration of
// it left in the prefix before the run.
World& ComponentReleasedUnregistered(World& world) {
  return world.RegistryKeyRemoved("HKCR\\Brevix.Quillet")
      .RegistryKeyRemoved("HKCR\\Brevix.Quillet.1")
      .RegistryKeyRemoved(std::string("HKCR\\CLSID\\") + kQuillet)
      .Release("file bvx.dll " + TestPaths().winBin + "/bvx.dll");
}

// Files outside the client folder, laid out before a run and looked at
// after it; removed again when the scenario ends.
class OutsideFiles {
 public:
  explicit OutsideFiles(std::string driveC) : driveC_(std::move(driveC)) {}
  ~OutsideFiles() {
    std::error_code ec;
    for (const auto& p : made_) fs::remove_all(driveC_ + "/" + p, ec);
  }
  void Write(const std::string& rel, const std::string& text) {
    fs::path p = driveC_ + "/" + rel;
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), text);
    made_.push_back(rel.substr(0, rel.find('/')));
  }
  // Removed before the run, so that the run can be seen not to make it.
  void Absent(const std::string& rel) {
    made_.push_back(rel.substr(0, rel.find('/')));
    std::error_code ec;
    fs::remove_all(driveC_ + "/" + rel, ec);
  }
  std::string Text(const std::string& rel) const { return ReadText(driveC_ + "/" + rel); }
  bool Exists(const std::string& rel) const { return fs::exists(driveC_ + "/" + rel); }

 private:
  std::string driveC_;
  std::vector<std::string> made_;
};

// ---- A normal update ------------------------------------------------------

TEST_F(Worker, SeveralVersionsLeaveTheClientExactlyAsReleasedAndStartItOnce) {
  // The archives carry their own entry times; the run takes place in a zone
  // nine hours east of UTC, so that an entry time read as UTC would show.
  ZipItem topFile{"top.txt", "unpacked at the top", 2018, 11, 12, 13, 14, 16};
  ZipItem topNested{"TopPack/inner/x.txt", "nested below the top archive", 2018, 11, 12, 13, 14, 18};
  ZipItem subFile{"readme.txt", "unpacked in Sub", 2019, 3, 4, 5, 6, 8};
  ZipItem subNested{"Skins/blue/a.bmp", "blue skin in Sub", 2019, 3, 4, 5, 6, 10};
  std::string topZip = ZipBytes(OutputDir() + "/Top.zip", {topFile, topNested});
  std::string subZip = ZipBytes(OutputDir() + "/Pack.zip", {subFile, subNested});

  Given().InstalledClient(1000)
         .ClientFile("gone.txt", "deleted by 1001")
         .ClientFile("Sub\\Deep\\gone.txt", "deleted by 1002")
         .ClientFile("OldDir\\a\\b.txt", "removed with its folder by 1003")
         .ClientFile("OldDir\\c.txt", "removed with its folder by 1003")
         .ClientFile("a.dll", "a v0")
         .ClientFile("skipped.dat", "listed under the installed version")
         .PublishedFile("a.dll", "a v4")
         .PublishedFile("Sub/Deep/c.dat", "downloaded into two new folders")
         .PublishedFile("Sub/new file.txt", "published as new!file.txt")
         .PublishedFile("zip", "a file named like the archive ending, kept as it is")
         .PublishedFile("skipped.dat", "listed under the installed version")
         // The archives, and the files they hold as the newest client has them.
         .PublishedFile("Top.zip", topZip)
         .PublishedFile("Sub/Pack.zip", subZip)
         .PublishedFile(topFile.name, topFile.data)
         .PublishedFile(topNested.name, topNested.data)
         .PublishedFile("Sub/" + subFile.name, subFile.data)
         .PublishedFile("Sub/" + subNested.name, subNested.data)
         .Release("hash-exclude Top.zip")
         .Release("hash-exclude Sub/Pack.zip")
         .Release("version 1000 skipped.dat")
         .Release("version 1001 a.dll -gone.txt")
         .Release("version 1002 Sub\\Deep\\c.dat \"Sub\\new file.txt\" -Sub\\Deep\\gone.txt")
         .Release("version 1003 Top.zip Sub\\Pack.zip zip =OldDir")
         .Release("version 1004 Ulmet3_install.exe");
  const char* oldZone = std::getenv("TZ");
  std::string savedZone = oldZone ? oldZone : "";
  setenv("TZ", "Asia/Seoul", 1);
  Run(LaunchArg(2));
  if (oldZone) setenv("TZ", savedZone.c_str(), 1); else unsetenv("TZ");

  ExpectNoBox();
  // Every file is right after the first pass: nothing is fetched again.
  ExpectNoTrace(kRedownloadTrace);
  std::vector<std::string> fetched = FileRequests(Requests());
  std::vector<std::string> expectedFetches = {"a.dll", "Sub/Deep/c.dat", "Sub/new!file.txt",
                                              "Top.zip", "Sub/Pack.zip", "zip"};
  EXPECT_EQ(fetched, expectedFetches) << "the update files fetched, in list order";
  ExpectNotRequested("/Ulmet3/Ulmet_install.exe");

  // The client folder holds exactly the newest client (plus the updater):
  // the deleted files and the archives are gone, the rest is byte for byte
  // what the release publishes.
  std::string release = OutputDir() + "/release/client";
  std::set<std::string> expected = FilesBelow(release);
  expected.erase("Top.zip");
  expected.erase("Sub/Pack.zip");
  expected.insert("Ulmet.exe");
  EXPECT_EQ(FilesBelow(UnixPath(kClientFolder)), expected);
  for (const auto& rel : expected) {
    if (rel == "Ulmet.exe") continue;
    EXPECT_EQ(ReadText(UnixPath(kClientFolder) + rel), ReadText(release + "/" + rel)) << rel;
  }
  ExpectNoClientFile("OldDir");
  EXPECT_TRUE(fs::is_directory(UnixPath(std::string(kClientFolder) + "Sub\\Deep")));

  // Unpacked files carry their entry's time, read as local time (UTC+9).
  EXPECT_EQ(ModifiedSeconds(UnixPath(std::string(kClientFolder) + "top.txt")), UtcSeconds(topFile, 9 * 3600));
  EXPECT_EQ(ModifiedSeconds(UnixPath(std::string(kClientFolder) + "TopPack\\inner\\x.txt")),
            UtcSeconds(topNested, 9 * 3600));
  EXPECT_EQ(ModifiedSeconds(UnixPath(std::string(kClientFolder) + "Sub\\readme.txt")),
            UtcSeconds(subFile, 9 * 3600));
  EXPECT_EQ(ModifiedSeconds(UnixPath(std::string(kClientFolder) + "Sub\\Skins\\blue\\a.bmp")),
            UtcSeconds(subNested, 9 * 3600));

  ExpectRegistry(kRegistryKey, "AppVersion", "1004");
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u) << "exactly one program is started";
  EXPECT_EQ(starts[0].at("program"), "UlmetMain.exe");
  EXPECT_EQ(starts[0].at("command_line"), "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  std::string cwd = Lower(starts[0].at("cwd"));
  if (!cwd.empty() && cwd.back() == '\\') cwd.pop_back();
  EXPECT_EQ(cwd, "c:\\ulmet") << "the client starts in its own folder";
  ExpectEndedWithin(40);
}

TEST_F(Worker, InstallerEntryWritesTheListsVersionWithoutADownload) {
  // The entry records the list's highest version at once: a later failure
  // does not take it back (the digest list repairs such a file next time).
  Given().InstalledClient(1000)
         .PublishedFile("missing.dat", "withheld by the server")
         .Release("version 1001 Ulmet3_install.exe")
         .Release("version 1002 missing.dat")
         .Fault("/Ulmet3/files/missing.dat", "status", "status=404");
  Run(LaunchArg(2));
  ExpectNotRequested("/Ulmet3/files/Ulmet3_install.exe");
  ExpectNotRequested("/Ulmet3/Ulmet_install.exe");
  ExpectRequested("/Ulmet3/files/missing.dat");
  ExpectTrace(kRetryTrace);
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1002");
}

// ---- Self-replacement -----------------------------------------------------

TEST_F(Worker, ReplacedUpdaterGoesOnWithTheListAndItsSuccessorRemovesTheOldCopy) {
  // The new copy differs from the running one by bytes appended to it.
  std::string newCopy = ReadText(TestPaths().winBin + "/Ulmet.exe") + std::string("\0new copy of the updater", 24);
  Given().InstalledClient(1000)
         .PublishedFile("Ulmet.ex_", newCopy)
         .PublishedFile("later.dat", "after the replacement")
         .Release("version 1001 Ulmet.ex_ later.dat");
  Run(LaunchArg(4, "tok"));
  ExpectTrace("SelfUpdate");
  ExpectNoTrace("SelfUpdate Rename failed.");
  // The entry after the replacement is processed by the same run.
  ExpectClientFile("later.dat", "after the replacement");
  EXPECT_EQ(ClientFileText("Ulmet.exe"), newCopy) << "the new copy stands under the updater's name";
  ExpectNoClientFile("Ulmet.ex_");
  // The successor's run removed the parked old copy before reading the list.
  ExpectNoClientFile("Ulmet.e__");
  size_t listReads = 0;
  for (const auto& r : Requests()) listReads += r.at("path") == "/Ulmet3/UpdateList.dat" ? 1 : 0;
  EXPECT_EQ(listReads, 2u) << "the old and the new updater each read the list";
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u) << "only the client records a start (the updater is no stand-in)";
  EXPECT_EQ(starts[0].at("command_line"), "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(4, "tok")));
}

TEST_F(Worker, LeftoverOldCopyHeldOpenMakesTheReplacementFailAndTheFollowUpProgramStart) {
  Given().InstalledClient(1000)
         .ClientFile("Ulmet.e__", "old updater still in use")
         .HeldOpen("Ulmet.e__")
         .ClientFile("bvx.dl_", "component set aside by an earlier run")
         .ClientProgram("Update3.exe")
         .PublishedFile("before.dat", "before the new copy")
         .PublishedFile("Ulmet.ex_", "new updater")
         .PublishedFile("after.dat", "waits for the follow-up program")
         .Release("version 1001 before.dat Ulmet.ex_ after.dat");
  Run(LaunchArg(2));
  // The clean-up removed what it could; the held leftover blocks the swap.
  ExpectNoClientFile("bvx.dl_");
  ExpectClientFile("Ulmet.e__", "old updater still in use");
  ExpectTrace("SelfUpdate Rename failed.");
  ExpectClientFile("before.dat", "before the new copy");
  ExpectClientFile("Ulmet.ex_", "new updater");
  EXPECT_NE(ClientFileText("Ulmet.exe"), "new updater") << "the running updater keeps its name";
  ExpectNotRequested("/Ulmet3/files/after.dat");
  ExpectNoClientFile("after.dat");
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectNoBox();
  auto starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].at("command_line"), "C:\\Ulmet\\Update3.exe " + QuotedArg(LaunchArg(2)));
}

// ---- The page relay component ---------------------------------------------

TEST_F(Worker, ComponentIsUnregisteredSetAsideAndTheNewCopyRegisteredByRegsvr32) {
  // The installed copy is the component too (with bytes appended), registered
  // by hand with a value that only its unregistration removes.
  std::string component = ReadText(TestPaths().winBin + "/bvx.dll");
  ASSERT_FALSE(component.empty());
  std::string oldCopy = component + std::string("\0installed copy", 15);
  ComponentReleasedUnregistered(Given().InstalledClient(1000))
         .Registry("HKCR\\Brevix.Quillet", "Stale", "left by the installed copy")
         .ClientFile("bvx.dll", oldCopy)
         .Release("version 1001 bvx.dll");
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectNoTrace("bvx dll rename");
  EXPECT_EQ(ClientFileText("bvx.dl_"), oldCopy) << "the installed copy is set aside";
  EXPECT_EQ(ClientFileText("bvx.dll"), component) << "the new copy is in place";
  ExpectTrace("regsvr32 -s \"C:\\Ulmet\\bvx.dll\"");

  std::string scratch = OutputDir() + "/reg-key.out";
  std::string server = RegistryKeyText(kQuilletServerKey, scratch);
  EXPECT_NE(Lower(server).find("c:\\ulmet\\bvx.dll"), std::string::npos)
      << "the class is served by the new copy:\n" << server;
  ExpectRegistry(std::string("HKCR\\CLSID\\") + kQuillet + "\\InprocServer32", "ThreadingModel", "Apartment");
  std::string progId = RegistryKeyText("HKCR\\Brevix.Quillet\\CLSID", scratch);
  EXPECT_NE(progId.find(kQuillet), std::string::npos) << "ProgID Brevix.Quillet:\n" << progId;
  EXPECT_EQ(RegistryValue("HKCR\\Brevix.Quillet", "Stale"), "")
      << "the installed copy was not unregistered before it was set aside";
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

TEST_F(Worker, ComponentInUseCannotBeSetAsideAndTheRunEndsAfterTheBox) {
  Given().InstalledClient(1000)
         .ClientFile("bvx.dll", "component loaded by a browser")
         .HeldOpen("bvx.dll")
         .PublishedFile("first.dat", "before the component")
         .PublishedFile("last.dat", "after the component")
         .Release("file bvx.dll " + TestPaths().winBin + "/bvx.dll")
         .Release("version 1001 first.dat bvx.dll last.dat");
  Run(LaunchArg(2));
  ExpectBoxes({"올바른 업데이트를 위해 모든 인터넷 창을 종료한 후, 업데이트를 실행해주세요."});
  ExpectTrace("bvx dll rename 실패");
  ExpectClientFile("bvx.dll", "component loaded by a browser");
  ExpectNoClientFile("bvx.dl_");
  ExpectClientFile("first.dat", "before the component");
  ExpectNotRequested("/Ulmet3/files/bvx.dll");
  ExpectNotRequested("/Ulmet3/files/last.dat");
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1000");
  ExpectEndedWithin(40);
}

// Whether a script creates the object now, through its ProgID, as a page does
// (Wine's script host, in the scenario's prefix).
bool ScriptCreates(const std::string& scratch, const std::string& progId) {
  WriteText(scratch + ".js", "try { new ActiveXObject(\"" + progId +
                                 "\"); WScript.Quit(0); } catch (e) { WScript.Echo(e.message); WScript.Quit(2); }");
  ProcResult r = RunProcess({{"wine", "cscript", "//nologo", WindowsPathOf(scratch + ".js")}, {}, "",
                             scratch + ".out", scratch + ".err"}, 60);
  return r.exitCode == 0;
}

TEST_F(Worker, FailedDownloadOfANewComponentLeavesTheInstalledOneRegisteredAndWorking) {
  const std::string component = ReadText(TestPaths().winBin + "/bvx.dll");
  ASSERT_FALSE(component.empty());
  ComponentReleasedUnregistered(Given().InstalledClient(1000))
         .ClientFile("bvx.dll", component)
         .Registered("bvx.dll")
         .Release("version 1001 bvx.dll")
         .Fault("/Ulmet3/files/bvx.dll", "status", "status=404");
  Run(LaunchArg(2));
  ExpectBoxes({"[bvx.dll] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다."});
  ExpectTrace("bvx dll restored");
  EXPECT_EQ(ClientFileText("bvx.dll"), component) << "the installed copy is back under its name";
  ExpectNoClientFile("bvx.dl_");
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1000");
  EXPECT_TRUE(ScriptCreates(OutputDir() + "/create", "Brevix.Quillet"))
      << ReadText(OutputDir() + "/create.out");
}

TEST_F(Worker, ComponentBroughtForTheFirstTimeIsInstalledAndRegistered) {
  std::string component = ReadText(TestPaths().winBin + "/bvx.dll");
  ASSERT_FALSE(component.empty());
  ComponentReleasedUnregistered(Given().InstalledClient(1000)).Release("version 1001 bvx.dll");
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectNoTrace("bvx dll rename");
  EXPECT_EQ(ClientFileText("bvx.dll"), component);
  ExpectNoClientFile("bvx.dl_");
  std::string server = RegistryKeyText(kQuilletServerKey, OutputDir() + "/reg-key.out");
  EXPECT_NE(Lower(server).find("c:\\ulmet\\bvx.dll"), std::string::npos) << server;
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// ---- Damaged and failed downloads -------------------------------------------

TEST_F(Worker, FileServedDamagedIsNotInstalledAndTheRunEndsWithItsBox) {
  // The server keeps answering with bytes that do not match the hash list:
  // they never replace the installed copy, and nothing is fetched again.
  Given().InstalledClient(1000)
         .ClientFile("d.dat", "installed copy")
         .PublishedFile("d.dat", "what the hash list describes")
         .Release("version 1001 d.dat")
         .Fault("/Ulmet3/files/d.dat", "body", "body=damaged-on-the-server");
  Run(LaunchArg(2));
  size_t fetches = 0;
  for (const auto& f : FileRequests(Requests())) fetches += f == "d.dat" ? 1 : 0;
  EXPECT_EQ(fetches, 1u) << "refused once, not fetched again";
  EXPECT_EQ(CountTraces(Trace(), kRedownloadTrace), 0u);
  ExpectTrace("진행 도중에 오류가 발생하여 다시시도 합니다.");
  ExpectClientFile("d.dat", "installed copy");
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1000");
  ExpectEndedWithin(40);
}

// A failed download ends the run with the error box (its help link too) in
// front of the dialog; the dialog closes once the box is closed, and nothing
// is started.
struct FailedDownload {
  const char* name;
  std::function<void(World&)> given;
  const char* shown;  // the name in the box
};

const FailedDownload kFailedDownloads[] = {
    {"UpdateFile",
     [](World& w) {
       w.InstalledClient(1000).PublishedFile("a.dll", "a v2").Release("version 1001 a.dll")
           .Fault("/Ulmet3/files/a.dll", "status", "status=404");
     },
     "a.dll"},
    {"Installer",
     [](World& w) {
       w.Release("installer " + StandInProgram()).Fault("/Ulmet3/Ulmet_install.exe", "status", "status=404");
     },
     "/Ulmet3/Ulmet_install.exe"},
    {"RepairByDigest",
     [](World& w) {
       w.InstalledClient(1001).ClientFile("b.txt", "damaged").PublishedFile("b.txt", "b")
           .Release("version 1001 b.txt").Fault("/Ulmet3/files/b.txt", "status", "status=404");
     },
     "b.txt"},
};

void PrintTo(const FailedDownload& f, std::ostream* os) { *os << f.name; }

class FailedDownloadBox : public Scenario, public ::testing::WithParamInterface<FailedDownload> {};

TEST_P(FailedDownloadBox, ShowsTheDownloadErrorThenCloses) {
  GetParam().given(Given());
  Run(LaunchArg(2));
  const std::string text = std::string("[") + GetParam().shown +
                           "] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다.";
  ExpectBox(text, "오류");
  auto boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().text, text) << "the last thing the run shows";
  EXPECT_TRUE(boxes.back().dialogVisible) << "the box comes before the dialog closes";
  ExpectTrace(kRetryTrace);
  ExpectNothingStarted();
  ExpectEndedWithin(40);
}

INSTANTIATE_TEST_SUITE_P(Worker, FailedDownloadBox, ::testing::ValuesIn(kFailedDownloads),
                         [](const ::testing::TestParamInfo<FailedDownload>& info) { return std::string(info.param.name); });

TEST_F(Worker, DownloadCutMidwayKeepsTheFileItWasReplacingAndEndsTheRun) {
  std::string oldBody(50000, 'o');
  Given().InstalledClient(1000)
         .ClientFile("big.dat", oldBody)
         .PublishedFile("first.dat", "changed before the cut")
         .PublishedFile("big.dat", std::string(300000, 'n'))
         .PublishedFile("later.dat", "never reached")
         .Release("version 1001 first.dat")
         .Release("version 1002 big.dat later.dat")
         .Fault("/Ulmet3/files/big.dat", "cut", "bytes=120000");
  Run(LaunchArg(2));
  ExpectTrace("[big.dat] 파일을 다운로드 도중 오류가 발생하였습니다.");
  ExpectTrace(kRetryTrace);
  ExpectBoxes({"[big.dat] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다."});
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1000");
  // The file being replaced is untouched and nothing half-written is left.
  ExpectClientFile("big.dat", oldBody);
  ExpectClientFile("first.dat", "changed before the cut");
  ExpectNotRequested("/Ulmet3/files/later.dat");
  std::set<std::string> expected = {"Ulmet.exe", "UlmetMain.exe", "big.dat", "first.dat"};
  EXPECT_EQ(FilesBelow(UnixPath(kClientFolder)), expected);
}

TEST_F(Worker, BrokenArchiveIsDeletedAndPassedOver) {
  std::string good = ZipBytes(OutputDir() + "/good.zip", {{"Pack/ok.txt", "from the good archive"}});
  std::string truncated = good.substr(0, good.size() / 2);
  Given().InstalledClient(1000)
         .PublishedFile("bad.zip", "these are no zip bytes at all")
         .PublishedFile("Sub/half.zip", truncated)
         .PublishedFile("good.zip", good)
         .PublishedFile("Pack/ok.txt", "from the good archive")
         .PublishedFile("after.dat", "the run goes on")
         .Release("hash-exclude bad.zip")
         .Release("hash-exclude Sub/half.zip")
         .Release("hash-exclude good.zip")
         .Release("version 1001 bad.zip Sub\\half.zip good.zip after.dat");
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectNoClientFile("bad.zip");
  ExpectNoClientFile("Sub\\half.zip");
  ExpectNoClientFile("good.zip");
  ExpectClientFile("Pack\\ok.txt", "from the good archive");
  ExpectClientFile("after.dat", "the run goes on");
  ExpectNoTrace(kRedownloadTrace);
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

TEST_F(Worker, BrokenMainArchiveFallsBackToThePlainProgram) {
  Given().InstalledClient(1000)
         .PublishedFile("TestUlmet3Main_1001.zip", "no archive")
         .PublishedFile("TestUlmet3Main.exe", "the plain program")
         .PublishedFile("after.dat", "after the fallback")
         .Release("hash-exclude TestUlmet3Main_1001.zip")
         // Left out of the hash list, so that only the fallback can bring it.
         .Release("hash-exclude TestUlmet3Main.exe")
         .Release("version 1001 TestUlmet3Main_1001.zip after.dat");
  Run(LaunchArg(2));
  ExpectNoBox();
  std::vector<std::string> fetched = FileRequests(Requests());
  std::vector<std::string> expectedFetches = {"TestUlmet3Main_1001.zip", "TestUlmet3Main.exe", "after.dat"};
  EXPECT_EQ(fetched, expectedFetches);
  ExpectClientFile("TestUlmet3Main.exe", "the plain program");
  ExpectNoClientFile("TestUlmet3Main_1001.zip");
  ExpectClientFile("after.dat", "after the fallback");
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

TEST_F(Worker, BrokenMainArchiveWithoutThePlainProgramShowsTheDownloadErrorAndEnds) {
  Given().InstalledClient(1000)
         .PublishedFile("TestUlmet3Main.zip", "no archive")
         .PublishedFile("after.dat", "not reached")
         .Release("hash-exclude TestUlmet3Main.zip")
         .Release("version 1001 TestUlmet3Main.zip after.dat");
  Run(LaunchArg(2));
  ExpectRequested("/Ulmet3/files/TestUlmet3Main.exe");
  ExpectBoxes({"[TestUlmet3Main.exe] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 "
               "바랍니다."});
  ExpectTrace(kRetryTrace);
  ExpectNoClientFile("TestUlmet3Main.zip");
  ExpectNotRequested("/Ulmet3/files/after.dat");
  ExpectNothingStarted();
  ExpectRegistry(kRegistryKey, "AppVersion", "1000");
  ExpectEndedWithin(40);
}

// ---- Hostile names from the server -----------------------------------------

TEST_F(Worker, HostileListEntriesAreRefusedAndTheRestOfTheListIsProcessed) {
  OutsideFiles outside(TestPaths().prefix + "/drive_c");
  outside.Write("sentinel.txt", "must survive");
  outside.Write("outside.txt", "must survive too");
  outside.Write("Ulmet_sibling/file", "sibling folder of the client");
  outside.Absent("abs.txt");
  outside.Absent("x.txt");
  const std::vector<std::string> hostile = {"-..\\..\\outside.txt", "-..\\sentinel.txt", "=..\\Ulmet_sibling",
                                            "=..", "=", "=C:\\Windows", "\\abs.txt", "sub\\..\\..\\x.txt",
                                            "-C:\\sentinel.txt", "=...", "/abs.txt"};
  std::string line = "1001";
  for (const auto& h : hostile) line += " " + h;
  line += " good.dat -old.txt Sub\\ok.txt";
  Given().InstalledClient(1000)
         .ClientFile("old.txt", "deleted by the valid entry")
         .PublishedFile("good.dat", "valid entry after the refused ones")
         .PublishedFile("Sub/ok.txt", "valid entry in a sub-folder")
         // Served, in case a refused name were fetched after all.
         .PublishedFile("abs.txt", "would land on C:\\")
         .PublishedFile("x.txt", "would land on C:\\")
         .Release("hash-exclude abs.txt")
         .Release("hash-exclude x.txt")
         .ServerFile("Ulmet3/UpdateList.dat", "[ULMET3.0]\n" + line + "\n");
  Run(LaunchArg(2));
  std::vector<std::string> trace = Trace();
  for (const auto& h : hostile) {
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "Refused update entry : " + h), 1) << h << " was not refused";
  }
  ExpectNoBox();
  // Nothing outside the client folder changed.
  EXPECT_EQ(outside.Text("sentinel.txt"), "must survive");
  EXPECT_EQ(outside.Text("outside.txt"), "must survive too");
  EXPECT_EQ(outside.Text("Ulmet_sibling/file"), "sibling folder of the client");
  EXPECT_FALSE(outside.Exists("abs.txt"));
  EXPECT_FALSE(outside.Exists("x.txt"));
  EXPECT_TRUE(fs::is_directory(TestPaths().prefix + "/drive_c/windows/system32"));
  // The client folder is still there, with the valid entries done.
  ExpectClientFile("good.dat", "valid entry after the refused ones");
  ExpectClientFile("Sub\\ok.txt", "valid entry in a sub-folder");
  ExpectNoClientFile("old.txt");
  ExpectNoClientFile("abs.txt");
  std::vector<std::string> fetched = FileRequests(Requests());
  std::vector<std::string> expectedFetches = {"good.dat", "Sub/ok.txt"};
  EXPECT_EQ(fetched, expectedFetches) << "only the valid entries are fetched";
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

TEST_F(Worker, HostileArchiveEntriesWriteNothingOutsideTheClientFolder) {
  OutsideFiles outside(TestPaths().prefix + "/drive_c");
  outside.Write("sentinel.txt", "must survive");
  outside.Write("Ulmet_sibling/file", "sibling folder of the client");
  outside.Absent("outside.txt");
  outside.Absent("abs.txt");
  outside.Absent("x.txt");
  // One hostile name per archive, each after a harmless entry: extraction
  // stops at the refused entry, and the run goes on with the next one.
  struct Evil {
    std::string entry, hostile;
  };
  const std::vector<Evil> evil = {{"up.zip", "../outside.txt"},
                                  {"sentinel.zip", "../sentinel.txt"},
                                  {"Sub/sibling.zip", "../../Ulmet_sibling/file"},
                                  {"drive.zip", "C:/x.txt"},
                                  {"abs.zip", "/abs.txt"},
                                  {"back.zip", "..\\outside.txt"}};
  auto& world = Given();
  world.InstalledClient(1000).PublishedFile("after.dat", "the run goes on");
  std::string line = "version 1001";
  for (size_t i = 0; i < evil.size(); ++i) {
    std::string inside = "inside-" + std::to_string(i + 1) + ".txt";
    std::string bytes = ZipBytes(OutputDir() + "/evil-" + std::to_string(i + 1) + ".zip",
                                 {{inside, "harmless entry " + std::to_string(i + 1)},
                                  {evil[i].hostile, "written outside"},
                                  {"late-" + std::to_string(i + 1) + ".txt", "after the refused entry"}});
    world.PublishedFile(evil[i].entry, bytes).Release("hash-exclude " + evil[i].entry);
    std::string listName = evil[i].entry;
    std::replace(listName.begin(), listName.end(), '/', '\\');
    line += " " + listName;
  }
  world.Release(line + " after.dat");
  Run(LaunchArg(2));
  ExpectNoBox();
  EXPECT_EQ(outside.Text("sentinel.txt"), "must survive");
  EXPECT_EQ(outside.Text("Ulmet_sibling/file"), "sibling folder of the client");
  EXPECT_FALSE(outside.Exists("outside.txt"));
  EXPECT_FALSE(outside.Exists("abs.txt"));
  EXPECT_FALSE(outside.Exists("x.txt"));
  for (size_t i = 0; i < evil.size(); ++i) {
    std::string n = std::to_string(i + 1);
    std::string folder = evil[i].entry.find('/') != std::string::npos ? "Sub\\" : "";
    ExpectClientFile(folder + "inside-" + n + ".txt", "harmless entry " + n);
    ExpectNoClientFile(folder + "late-" + n + ".txt");
    std::string archive = evil[i].entry;
    std::replace(archive.begin(), archive.end(), '/', '\\');
    ExpectNoClientFile(archive);
  }
  ExpectNoClientFile("abs.txt");
  ExpectNoClientFile("outside.txt");
  ExpectClientFile("after.dat", "the run goes on");
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}


// The hash list's folders come before the names: a leading separator, a
// share's spelling or a "." folder joined with a ".\" name must resolve
// below the client folder for both the comparison and the repair, or be
// passed over.
TEST_F(Worker, HashListFoldersResolveBelowTheClientFolderForComparisonAndRepair) {
  OutsideFiles outside(TestPaths().prefix + "/drive_c");
  for (const char* name : {"x.txt", "data", "host", "evil.dll", "evil.txt"}) outside.Absent(name);
  struct Listed {
    std::string name, folder, installed;
  };
  const std::vector<Listed> listed = {{"x.txt", "\\", "damaged x"},
                                      {"y.txt", "\\data\\", "damaged y"},
                                      {"z.txt", "\\\\host\\share\\", "damaged z"},
                                      {"evil.txt", "..!\\", ""},
                                      {".\\evil.dll", ".", ""}};
  auto& world = Given();
  world.InstalledClient(1001).Release("version 1001 UlmetMain.exe");
  std::string hashes;
  int number = 0;
  for (const auto& l : listed) {
    // Where the file lies below the client folder once Windows has read
    // folder and name together (the last one lies nowhere: it climbs).
    std::string below = l.folder + l.name;
    below.erase(0, below.find_first_not_of('\\'));
    std::string good = "repaired " + l.name;
    WriteText(OutputDir() + "/digest.tmp", good);
    std::string digest;
    ASSERT_TRUE(ulp::ChainedDigest(OutputDir() + "/digest.tmp", &digest));
    hashes += l.name + ":" + std::to_string(++number) + ":" + digest + ":" + l.folder + "\n";
    if (!l.installed.empty()) world.ClientFile(below, l.installed);
    std::string published = below;
    std::replace(published.begin(), published.end(), '\\', '/');
    if (l.name != ".\\evil.dll") world.PublishedFile(published, good).Release("hash-exclude " + published);
  }
  world.ServerFile("Ulmet3/ULHashFile.dat", hashes);
  Run(LaunchArg(2));
  ExpectNoBox();
  ExpectClientFile("x.txt", "repaired x.txt");
  ExpectClientFile("data\\y.txt", "repaired y.txt");
  ExpectClientFile("host\\share\\z.txt", "repaired z.txt");
  ExpectClientFile("..!\\evil.txt", "repaired evil.txt");  // a plain folder name here
  ExpectTrace("Refused path outside the client folder : ..\\evil.dll");
  for (const char* name : {"x.txt", "data", "host", "evil.dll", "evil.txt"}) {
    EXPECT_FALSE(outside.Exists(name)) << name << " was written outside the client folder";
  }
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}

// Update-list names that pass the readers' early checks but not the gate
// once '!' is a blank, or that spell the client folder itself; and a
// deletion of a name with a blank, which the list can only write with '!'.
TEST_F(Worker, UpdateListNamesThatSpellTheFolderOrClimbAfterTheBlankRewriteChangeNothing) {
  OutsideFiles outside(TestPaths().prefix + "/drive_c");
  outside.Write("sentinel.txt", "must survive");
  outside.Absent("evil.dll");
  const std::vector<std::pair<std::string, std::string>> hostile = {
      {"-..!\\sentinel.txt", ".. \\sentinel.txt"}, {"=..!", ".. "}, {"=.", "."},
      {"=.\\", ".\\"}, {"=.\\.", ".\\."}, {"-.", "."}, {"..!\\evil.dll", ".. \\evil.dll"}};
  std::string line = "1001";
  for (const auto& h : hostile) line += " " + h.first;
  Given().InstalledClient(1000)
         .ClientFile("keep.dat", "stays")
         .ClientFile("read me.txt", "deleted by its '!' spelling")
         .PublishedFile("after.dat", "the run goes on")
         .ServerFile("Ulmet3/UpdateList.dat", "[ULMET3.0]\n" + line + " -read!me.txt after.dat\n");
  Run(LaunchArg(2));
  ExpectNoBox();
  for (const auto& h : hostile) ExpectTrace("Refused path outside the client folder : " + h.second);
  EXPECT_EQ(outside.Text("sentinel.txt"), "must survive");
  EXPECT_FALSE(outside.Exists("evil.dll"));
  ExpectClientFile("keep.dat", "stays");
  EXPECT_TRUE(ClientFileExists("UlmetMain.exe")) << "the client folder was emptied";
  ExpectNoClientFile("read me.txt");
  ExpectClientFile("after.dat", "the run goes on");
  std::vector<std::string> fetched = FileRequests(Requests());
  EXPECT_EQ(fetched, std::vector<std::string>{"after.dat"});
  ExpectRegistry(kRegistryKey, "AppVersion", "1001");
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
}
}  // namespace
}  // namespace scn
