#include "scenario.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "harness/proc.h"
#include "publisher.h"
#include "release.h"

namespace fs = std::filesystem;

namespace scn {

namespace {

std::string Cp949ToUtf8(const std::string& bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) return bytes;
  iconv_t cd = iconv_open("UTF-8", "CP949");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out(bytes.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* o = &out[0];
  size_t outLeft = out.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return bytes;
  out.resize(out.size() - outLeft);
  return out;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// "HKLM\\X" -> "HKEY_LOCAL_MACHINE\\X" for .reg files.
std::string LongHive(const std::string& key) {
  static const std::pair<const char*, const char*> hives[] = {
      {"HKLM\\", "HKEY_LOCAL_MACHINE\\"}, {"HKCU\\", "HKEY_CURRENT_USER\\"}, {"HKCR\\", "HKEY_CLASSES_ROOT\\"}};
  for (const auto& h : hives) {
    if (key.rfind(h.first, 0) == 0) return h.second + key.substr(std::strlen(h.first));
  }
  return key;
}

std::string RegString(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return "\"" + out + "\"";
}

// A .reg file in UTF-16LE with its byte order mark, as regedit wants it for
// text beyond ASCII.
bool WriteRegFile(const std::string& path, const std::string& utf8) {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(utf8.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = &out[0];
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return WriteText(path, std::string("\xFF\xFE", 2) + out);
}

bool CanConnect(const std::string& host, int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string Env(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// Who listens on port 80, for the message when a server cannot start.
std::string PortHolders() {
  std::string file = "/tmp/scn-port80-" + std::to_string(getpid()) + ".txt";
  RunProcess({{"ss", "-tanp", "sport = :80"}, {}, "", file, "/dev/null"}, 10);
  std::string text = ReadText(file);
  unlink(file.c_str());
  return "\nsockets on port 80:\n" + text;
}

// Whether an updater of this prefix still runs: a run that replaced the
// updater hands on to its new copy, which may replace itself once more, so
// the first process ending is not the end of the run.
bool UpdaterRunning(const std::string& prefix) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    std::string pid = e.path().filename().string();
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    std::string cmd = ReadText(e.path().string() + "/cmdline");
    std::string program = Lower(cmd.substr(0, cmd.find('\0')));
    std::size_t slash = program.find_last_of("/\\");
    if (program.substr(slash == std::string::npos ? 0 : slash + 1) != "ulmet.exe") continue;
    if (ReadText(e.path().string() + "/environ").find("WINEPREFIX=" + prefix + '\0') != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string WindowsPathOf(const std::string& unixPath) {
  std::string p = "Z:" + unixPath;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

std::string LaunchArg(int kind, const std::string& token) {
  std::string a = "5001\f" + std::to_string(kind);
  if (!token.empty()) a += "\f" + token;
  return a;
}

std::string QuotedArg(const std::string& arg) { return "\"" + arg + "\""; }

uint64_t FileTimeNow() { return (static_cast<uint64_t>(EpochMs()) + 11644473600000ull) * 10000ull; }

bool BenchMakeOnly() {
  const char* v = std::getenv("ULMET_BENCH_MAKE_ONLY");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

bool MachineRunsI386() {
  static const bool runs = RunProcess({{"bash", "-c", "source \"$0/scripts/machine.sh\" && ulmet_i386_runs",
                                        TestPaths().sourceDir}, {}, ""}, 30).exitCode == 0;
  return runs;
}

std::string Noise(std::size_t bytes, uint32_t seed) {
  std::string body(bytes, '\0');
  uint32_t x = seed;
  for (std::size_t i = 0; i + 4 <= body.size(); i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::memcpy(&body[i], &x, 4);
  }
  return body;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::string p(1 << 20, '\0'), q(1 << 20, '\0');
  while (x && y) {
    x.read(&p[0], static_cast<std::streamsize>(p.size()));
    y.read(&q[0], static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || p.compare(0, static_cast<std::size_t>(x.gcount()), q, 0,
                                              static_cast<std::size_t>(y.gcount())) != 0)
      return false;
  }
  return !x && !y;
}

const Paths& TestPaths() {
  static Paths p = [] {
    Paths x;
    x.winBin = SCN_WIN_BIN;
    x.nativeBin = SCN_NATIVE_BIN;
    x.sourceDir = SCN_SOURCE_DIR;
    x.outRoot = SCN_OUT_ROOT;
    x.prefix = Env("WINEPREFIX", std::string(SCN_BUILD_ROOT) + "/wineprefix");
    x.configHost = SCN_CONFIG_HOST;
    x.homePage = SCN_HOME_PAGE;
    return x;
  }();
  return p;
}

std::string StandInProgram() { return TestPaths().winBin + "/UlmetMain.exe"; }

// The caption of the updater's main dialog, which the answerer watches.
constexpr char kMainDialogTitle[] = "ULMET Version Checking";

// ---- World -------------------------------------------------------------

World& World::InstalledClient(int version) {
  installed_ = true;
  installedVersion_ = version;
  return *this;
}
World& World::InstalledClientForCurrentUser(int version) {
  installedForUser_ = true;
  Release("set REGISTRY HK_CURRENT_USER");
  return InstalledClient(version);
}
World& World::ClientFile(const std::string& relative, const std::string& content) {
  clientFiles_.emplace_back(relative, content);
  return *this;
}
World& World::ClientLink(const std::string& relative, const std::string& unixTarget, bool hard) {
  clientLinks_.push_back({relative, unixTarget, hard});
  return *this;
}
World& World::InstalledFolder(const std::string& unixFolder, int version) {
  installedFolder_ = unixFolder;
  return InstalledClient(version);
}

World& World::ClientFolderAt(const std::string& windowsFolder) {
  clientFolder_ = windowsFolder;
  return *this;
}

World& World::Registered(const std::string& relative) {
  registered_.push_back(relative);
  return *this;
}

World& World::InstalledFolderLinked(const std::string& unixFolder, int version) {
  installedLinked_ = true;
  return InstalledFolder(unixFolder, version);
}

World& World::NoClientModule() {
  clientModule_ = false;
  return *this;
}
World& World::ClientProgram(const std::string& relative) {
  clientPrograms_.push_back(relative);
  return *this;
}
World& World::ClientRunning() {
  clientRunning_ = true;
  return *this;
}
World& World::HeldOpen(const std::string& relative) {
  heldFiles_.push_back(relative);
  return *this;
}
World& World::Registry(const std::string& key, const std::string& name, const std::string& value) {
  registry_.push_back({key, name, value});
  return *this;
}
World& World::RegistryKeyRemoved(const std::string& key) {
  removedKeys_.push_back(key);
  return *this;
}
World& World::CrashLog(const std::string& fileName, const tb::CrashLog& log) {
  crashLogs_.emplace_back(fileName, log);
  return *this;
}
World& World::PublishedFile(const std::string& relative, const std::string& content) {
  publishedFiles_.emplace_back(relative, content);
  return *this;
}
World& World::Release(const std::string& statements) {
  release_ += statements + "\n";
  return *this;
}
World& World::ServerFile(const std::string& treePath, const std::string& content) {
  serverFiles_.emplace_back(treePath, content);
  return *this;
}
World& World::ServerFileOfSize(const std::string& treePath, const std::string& content, uint64_t size) {
  serverFiles_.emplace_back(treePath, content);
  serverFileSizes_.emplace_back(treePath, size);
  return *this;
}
World& World::ServerFileCopy(const std::string& fromTreePath, const std::string& toTreePath) {
  serverCopies_.emplace_back(fromTreePath, toTreePath);
  return *this;
}
World& World::Fault(const std::string& path, const std::string& kind, const std::string& params) {
  faults_.push_back({path, kind, params});
  return *this;
}
World& World::FaultsMended() {
  faults_.clear();
  return *this;
}
World& World::ServerDown() {
  serverDown_ = true;
  return *this;
}
World& World::ServedByNginx() {
  nginx_ = true;
  return *this;
}
World& World::ServedTree(const std::string& unixTree) {
  servedTree_ = unixTree;
  return *this;
}

World& World::SignedBuild() {
  signedBuild_ = true;
  if (signingKey_.empty()) signingKey_ = "test-release";
  return *this;
}
World& World::SignedWith(const std::string& keyName) {
  signingKey_ = keyName;
  return *this;
}
World& World::ServerFileRemoved(const std::string& treePath) {
  removedServerFiles_.push_back(treePath);
  return *this;
}
World& World::SystemLibraryMissing(const std::string& dllName) {
  missingLibraries_ += ";" + dllName + "=";
  return *this;
}

World& World::Answers(const std::string& commaList) {
  answers_ = commaList;
  return *this;
}
World& World::TimeLimit(double seconds) {
  timeLimit_ = seconds;
  return *this;
}
World& World::KillWhenSent(long long bytes) {
  killWhenSent_ = bytes;
  return *this;
}
World& World::WineDebug(const std::string& channels) {
  wineDebug_ = channels;
  return *this;
}
World& World::LineRate(double mbit) {
  lineMbit_ = mbit;
  return *this;
}
World& World::ProbeWindow(double closeAfterSeconds) {
  probe_ = true;
  probeCloseAfter_ = closeAfterSeconds;
  return *this;
}
World& World::OutsideFolder(const std::string& windowsPath) {
  outsideFolders_.push_back(windowsPath);
  return *this;
}
World& World::OutsideFile(const std::string& windowsPath, const std::string& content) {
  outsideFiles_.emplace_back(windowsPath, content);
  return *this;
}
World& World::OutsideProgram(const std::string& windowsPath) {
  outsidePrograms_.push_back(windowsPath);
  return *this;
}

// ---- Scenario ------------------------------------------------------------

void Scenario::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  out_ = TestPaths().outRoot + "/" + info->test_suite_name() + "." + info->name();
  std::error_code ec;
  fs::remove_all(out_, ec);
  fs::create_directories(out_ + "/logs", ec);

  // Every Wine process of a scenario shares the project's Wine environment
  // and the Korean code page.
  setenv("WINEPREFIX", TestPaths().prefix.c_str(), 1);
  setenv("WINEARCH", "win32", 0);  // scripts/wine-env.sh names a 64-bit prefix where 32-bit cannot run
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  setenv("LANG", "ko_KR.UTF-8", 1);
  unsetenv("LC_ALL");
  unsetenv("LC_CTYPE");
  unsetenv("LC_MESSAGES");
  setenv("DISPLAY", Env("DISPLAY", ":" + Env("ULMET_DISPLAY_NUM", "77")).c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  wineEnv_["ULMET_TESTBED_LOG"] = WindowsPathOf(out_ + "/logs");

  ASSERT_TRUE(fs::exists(TestPaths().winBin + "/Ulmet.exe"))
      << "no Ulmet.exe in " << TestPaths().winBin << ": build the cross tree first (scripts/build.sh)";
  ProcSpec probe{{"xdpyinfo"}, {}, "", "/dev/null", "/dev/null"};
  if (RunProcess(probe, 10).exitCode != 0 || !fs::exists(TestPaths().prefix + "/.ulmet-ready")) {
    // Not started yet: start the project's Wine environment the usual way.
    ProcSpec start{{"bash", TestPaths().sourceDir + "/scripts/wine-env.sh", "start"},
                   {{"ULMET_BUILD", SCN_BUILD_ROOT}}, "", out_ + "/wine-env.out", out_ + "/wine-env.err"};
    ASSERT_EQ(RunProcess(start, 300).exitCode, 0) << "the Wine environment did not start; see " << out_;
  }
}

void Scenario::TearDown() {
  if (!finished_ && (serverPid_ > 0 || answererPid_ > 0)) Finish();
}

std::string Scenario::UnixPath(const std::string& windowsPath) const {
  std::string p = windowsPath;
  if (p.size() >= 2 && (p[0] == 'C' || p[0] == 'c') && p[1] == ':') p = TestPaths().prefix + "/drive_c" + p.substr(2);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

World& World::TempFile(const std::string& name, const std::string& content) {
  tempFiles_.push_back({name, content});
  return *this;
}

void Scenario::ResetPrefix() {
  const auto& P = TestPaths();
  RunProcess({{"wine", P.winBin + "/tbctl.exe", "quit", "3000"}, wineEnv_, "", "/dev/null", "/dev/null"}, 30);
  std::error_code ec;
  fs::remove_all(UnixPath(kClientFolder), ec);
  fs::remove_all(UnixPath(ClientFolder()), ec);
  fs::path temp = P.prefix + "/drive_c/windows/temp";
  if (fs::is_directory(temp)) {
    for (const auto& e : fs::directory_iterator(temp, ec)) {
      std::string name = e.path().filename().string();
      if (!name.empty() && name.back() == '_') fs::remove_all(e.path(), ec);
    }
  }

  std::string browser = WindowsPathOf(P.winBin + "/testbed_browser.exe");
  std::ostringstream reg;
  reg << "Windows Registry Editor Version 5.00\r\n\r\n";
  for (const char* hive : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"}) {
    for (const char* key : {"Software\\ULMET", "Software\\ULMET3", "Software\\Zolte", "Software\\ULPatchwell"})
      reg << "[-" << hive << "\\" << key << "]\r\n";
  }
  for (const auto& key : world_.removedKeys_) reg << "[-" << LongHive(key) << "]\r\n";
  for (const char* scheme : {"http", "https"}) {
    reg << "\r\n[HKEY_CLASSES_ROOT\\" << scheme << "\\shell\\open\\command]\r\n@="
        << RegString("\"" + browser + "\" \"%1\"") << "\r\n";
  }
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> keys;
  if (world_.installed_) {
    auto& k = keys[world_.installedForUser_ ? "HKCU\\Software\\ULMET" : "HKLM\\Software\\ULMET"];
    k.emplace_back("MainPath", ClientFolder());
    k.emplace_back("AppVersion", std::to_string(world_.installedVersion_));
    k.emplace_back("PatchPath", ClientFolder().substr(0, ClientFolder().size() - 1));
  }
  for (const auto& r : world_.registry_) keys[r[0]].emplace_back(r[1], r[2]);
  for (const auto& k : keys) {
    reg << "\r\n[" << LongHive(k.first) << "]\r\n";
    for (const auto& v : k.second) reg << RegString(v.first) << "=" << RegString(v.second) << "\r\n";
  }
  ASSERT_TRUE(WriteRegFile(out_ + "/setup.reg", reg.str()));
  ProcResult r = RunProcess({{"wine", "regedit", "/S", out_ + "/setup.reg"}, wineEnv_, "", "/dev/null",
                             out_ + "/regedit.err"}, 60);
  ASSERT_EQ(r.exitCode, 0) << "regedit import failed";

  fs::create_directories(UnixPath(ClientFolder()), ec);
  const std::string updater = P.winBin + (world_.signedBuild_ ? "/signed/Ulmet.exe" : "/Ulmet.exe");
  fs::copy_file(updater, UnixPath(ClientFolder() + "Ulmet.exe"),
                fs::copy_options::overwrite_existing, ec);
  ASSERT_FALSE(ec) << "cannot copy Ulmet.exe: " << ec.message();
  if (world_.installed_ && world_.clientModule_) {
    fs::copy_file(P.winBin + "/UlmetMain.exe", UnixPath(ClientFolder() + "UlmetMain.exe"),
                  fs::copy_options::overwrite_existing, ec);
  }
  if (!world_.installedFolder_.empty() && world_.installedLinked_) {
    const fs::path from = world_.installedFolder_, to = UnixPath(ClientFolder());
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      const fs::path target = to / it->path().lexically_relative(from);
      if (it->is_directory()) {
        fs::create_directories(target, ec);
      } else {
        fs::remove(target, ec);
        fs::create_hard_link(it->path(), target, ec);
      }
      ASSERT_FALSE(ec) << "cannot link " << it->path() << ": " << ec.message();
    }
  } else if (!world_.installedFolder_.empty()) {
    fs::copy(world_.installedFolder_, UnixPath(ClientFolder()),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << "cannot install " << world_.installedFolder_ << ": " << ec.message();
  }
  for (const auto& f : world_.clientFiles_) {
    fs::path p = UnixPath(ClientFolder() + f.first);
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), f.second);
  }
  for (const auto& l : world_.clientLinks_) {
    fs::path p = UnixPath(ClientFolder() + l.relative);
    fs::create_directories(p.parent_path(), ec);
    fs::remove(p, ec);
    if (l.hard)
      fs::create_hard_link(l.target, p, ec);
    else
      fs::create_symlink(l.target, p, ec);
    ASSERT_FALSE(ec) << "cannot link " << l.relative << ": " << ec.message();
  }
  for (const auto& name : world_.clientPrograms_) {
    fs::path p = UnixPath(ClientFolder() + name);
    fs::create_directories(p.parent_path(), ec);
    fs::copy_file(P.winBin + "/UlmetMain.exe", p, fs::copy_options::overwrite_existing, ec);
  }
  for (const auto& dll : world_.registered_) {
    ProcResult r = RunProcess({{"wine", "regsvr32", "/s", ClientFolder() + dll}, wineEnv_, "", "/dev/null",
                               out_ + "/regsvr32.err"}, 60);
    ASSERT_EQ(r.exitCode, 0) << "cannot register " << dll;
  }
  for (const auto& c : world_.crashLogs_) {
    fs::path p = UnixPath(ClientFolder() + "Log\\" + c.first);
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), tb::FormatCrashLog(c.second));
  }
  // Outside folders are emptied first; never the drive, the Windows folder
  // or the prefix's own folders.
  for (const auto& folder : world_.outsideFolders_) {
    std::string lower = Lower(folder);
    bool safe = lower.size() > 3 && lower.rfind("c:\\", 0) == 0 && lower.rfind("c:\\windows", 0) != 0 &&
                lower.rfind("c:\\program files", 0) != 0 && lower.rfind("c:\\users", 0) != 0 &&
                lower.find("..") == std::string::npos;
    ASSERT_TRUE(safe) << "not a folder a scenario may empty: " << folder;
    fs::remove_all(UnixPath(folder), ec);
    fs::create_directories(UnixPath(folder), ec);
  }
  for (const auto& f : world_.outsideFiles_) {
    fs::path p = UnixPath(f.first);
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), f.second);
  }
  for (const auto& name : world_.outsidePrograms_) {
    fs::path p = UnixPath(name);
    fs::create_directories(p.parent_path(), ec);
    fs::copy_file(P.winBin + "/UlmetMain.exe", p, fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << "cannot copy the stand-in to " << name << ": " << ec.message();
  }
}

void Scenario::PublishTree() {
  const auto& P = TestPaths();
  std::error_code ec;
  if (!world_.servedTree_.empty()) {
    treeRoot_ = world_.servedTree_;
    return;
  }
  treeRoot_ = out_ + "/tree";
  std::string client = out_ + "/release/client";
  fs::create_directories(client, ec);
  fs::copy_file(P.winBin + "/UlmetMain.exe", client + "/UlmetMain.exe", fs::copy_options::overwrite_existing, ec);
  for (const auto& f : world_.publishedFiles_) {
    fs::path p = client + "/" + f.first;
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), f.second);
  }
  std::string text = "host " + P.configHost + "\n" + world_.release_;
  WriteText(out_ + "/release/release.txt", text);
  tb::Release release;
  std::string error;
  ASSERT_TRUE(tb::ParseRelease(text, &release, &error)) << error;
  tb::PublishOptions o;
  o.clientDir = client;
  o.outDir = out_ + "/tree";
  o.releaseDir = out_ + "/release";
  o.host = P.configHost;
  tb::PublishResult result;
  ASSERT_TRUE(tb::Publish(release, o, &result)) << result.error;
  if (!world_.signingKey_.empty()) {
    ProcResult r = RunProcess({{P.nativeBin + "/ulmet-publish", "sign", "--tree", treeRoot_, "--key",
                                P.sourceDir + "/tests/keys/" + world_.signingKey_ + ".key"},
                               {}, "", out_ + "/sign.out", out_ + "/sign.err"}, 120);
    ASSERT_EQ(r.exitCode, 0) << "ulmet-publish sign failed: " << ReadText(out_ + "/sign.err");
  }
  for (const auto& f : world_.removedServerFiles_) fs::remove(treeRoot_ + "/" + f, ec);
  for (const auto& f : world_.serverFiles_) {
    std::string rel = f.first;
    while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
    fs::path p = out_ + "/tree/" + rel;
    fs::create_directories(p.parent_path(), ec);
    WriteText(p.string(), f.second);
  }
  for (const auto& f : world_.serverFileSizes_) {
    fs::resize_file(out_ + "/tree/" + f.first.substr(f.first.find_first_not_of('/')), f.second, ec);
    ASSERT_FALSE(ec) << "cannot size " << f.first << ": " << ec.message();
  }
  for (const auto& c : world_.serverCopies_) {
    fs::path from = out_ + "/tree/" + c.first, to = out_ + "/tree/" + c.second;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << "cannot copy " << c.first << " to " << c.second << ": " << ec.message();
  }
}

namespace {

// The shipped server block (publish/nginx/ulmet.conf) with its listen and
// root lines replaced; every other line is served as operators get it.
std::string ShippedNginxServer(const std::string& listen, const std::string& root) {
  std::istringstream in(ReadText(TestPaths().sourceDir + "/publish/nginx/ulmet.conf"));
  std::ostringstream out;
  int replaced = 0;
  for (std::string line; std::getline(in, line);) {
    std::size_t first = line.find_first_not_of(' ');
    std::string word = first == std::string::npos ? "" : line.substr(first);
    if (word.rfind("listen ", 0) == 0) {
      line = "    listen " + listen + ";", ++replaced;
    } else if (word.rfind("root ", 0) == 0) {
      line = "    root " + root + ";", ++replaced;
    }
    out << line << "\n";
  }
  EXPECT_EQ(replaced, 2) << "publish/nginx/ulmet.conf should have one listen and one root line";
  return out.str();
}

}  // namespace

void Scenario::StartServer() {
  const auto& P = TestPaths();
  if (world_.serverDown_) return;
  std::string faults;
  for (const auto& f : world_.faults_) faults += f[0] + " " + f[1] + " " + f[2] + "\n";
  WriteText(out_ + "/faults.txt", faults);
  double deadline = NowSeconds() + 20;
  if (world_.nginx_) {
    fs::create_directories(out_ + "/nginx/tmp");
    std::ostringstream conf;
    conf << "daemon off;\nworker_processes 1;\nuser root;\npid " << out_ << "/nginx/nginx.pid;\n"
         << "error_log " << out_ << "/nginx/error.log;\nevents { worker_connections 64; }\n"
         << "http {\n  default_type application/octet-stream;\n"
         << "  log_format j escape=json '{\"seq\":\"$request_id\",\"answered\":\"$request_id\","
            "\"sent\":\"$body_bytes_sent\",\"method\":\"$request_method\",\"target\":\"$request_uri\","
            "\"path\":\"$uri\",\"status\":\"$status\",\"version\":\"$server_protocol\"}';\n"
         << "  access_log " << out_ << "/requests.jsonl j;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      conf << "  " << t << "_temp_path " << out_ << "/nginx/tmp;\n";
    // The server block that operators install, with only its address and
    // folder put in. reuseport: the test server of the scenario before
    // leaves connections in TIME-WAIT on this address, which block a plain
    // bind for a minute.
    conf << ShippedNginxServer(P.configHost + ":80 reuseport", treeRoot_) << "}\n";
    WriteText(out_ + "/nginx/nginx.conf", conf.str());
    for (;;) {
      serverPid_ = StartProcess({{"nginx", "-c", out_ + "/nginx/nginx.conf", "-p", out_ + "/nginx"}, {}, "",
                                 out_ + "/nginx/stdout.log", out_ + "/nginx/stderr.log"});
      bool up = WaitFor([&] { return CanConnect(P.configHost, 80); }, 5);
      if (up) return;
      StopProcess(serverPid_);
      serverPid_ = -1;
      ASSERT_LT(NowSeconds(), deadline) << "nginx did not listen on " << P.configHost << ":80: "
                                        << ReadText(out_ + "/nginx/error.log") << PortHolders();
      SleepSeconds(1);
    }
  }
  for (;;) {
    fs::remove(out_ + "/server.ready");
    std::vector<std::string> argv = {P.nativeBin + "/testbed_server", "--root", treeRoot_, "--log",
                                     out_ + "/requests.jsonl", "--bind", P.configHost, "--port", "80",
                                     "--faults", out_ + "/faults.txt", "--ready-file", out_ + "/server.ready"};
    if (world_.lineMbit_ > 0) argv.insert(argv.end(), {"--rate-mbit", std::to_string(world_.lineMbit_)});
    serverPid_ = StartProcess({argv, {}, "", "/dev/null", out_ + "/server.err"});
    if (WaitFor([&] { return fs::exists(out_ + "/server.ready"); }, 5)) return;
    StopProcess(serverPid_);
    serverPid_ = -1;
    // Another run may still hold the port for a moment.
    ASSERT_LT(NowSeconds(), deadline) << "the test server did not start: " << ReadText(out_ + "/server.err")
                                      << PortHolders();
    SleepSeconds(1);
  }
}

void Scenario::StopServer() {
  if (serverPid_ > 0) StopProcess(serverPid_);
  serverPid_ = -1;
}

void Scenario::StartAnswerer() {
  const auto& P = TestPaths();
  answererPid_ = StartProcess({{"wine", P.winBin + "/testbed_answerer.exe", "--answers", world_.answers_,
                                "--hold-ms", "600", "--watch", kMainDialogTitle, "--timeout-s",
                                std::to_string(static_cast<int>(world_.timeLimit_) + 60)},
                               wineEnv_, "", "/dev/null", out_ + "/answerer.err"});
  bool ready = WaitFor([&] {
    for (const auto& r : Log("boxes.jsonl"))
      if (r.count("event") && r.at("event") == "ready") return true;
    return false;
  }, 20);
  ASSERT_TRUE(ready) << "the message-box answerer did not start";
}

void Scenario::Prepare() {
  ResetPrefix();
  if (HasFatalFailure()) return;
  for (const auto& t : world_.tempFiles_)
    WriteText(TestPaths().prefix + "/drive_c/windows/temp/" + t.first, t.second);
  PublishTree();
  if (HasFatalFailure()) return;
  StartServer();
  if (HasFatalFailure()) return;
  HoldFiles();
  if (HasFatalFailure()) return;
  StartAnswerer();
  if (HasFatalFailure() || !world_.clientRunning_) return;
  const auto& P = TestPaths();
  StartProcess({{"wine", UnixPath(ClientFolder() + "UlmetMain.exe"), LaunchArg(6)}, wineEnv_,
                UnixPath(ClientFolder()), "/dev/null", "/dev/null"});
  ProcResult w = RunProcess({{"wine", P.winBin + "/tbctl.exe", "wait", "Ulmet", "15000"}, wineEnv_, "",
                             "/dev/null", "/dev/null"}, 30);
  ASSERT_EQ(w.exitCode, 0) << "the client did not come up before the run";
  startsBefore_ = Log("starts.jsonl").size();
}

// Each held file gets its own tbctl process, which holds it a minute longer
// than the run may take and is stopped when the run is over.
void Scenario::HoldFiles() {
  const auto& P = TestPaths();
  for (size_t i = 0; i < world_.heldFiles_.size(); ++i) {
    std::string out = out_ + "/hold-" + std::to_string(i + 1) + ".out";
    std::string err = out_ + "/hold-" + std::to_string(i + 1) + ".err";
    std::string ms = std::to_string(static_cast<long>(world_.timeLimit_ + 60) * 1000);
    holderPids_.push_back(StartProcess({{"wine", P.winBin + "/tbctl.exe", "hold",
                                         ClientFolder() + world_.heldFiles_[i], ms},
                                        wineEnv_, "", out, err}));
    ASSERT_TRUE(WaitFor([&] { return ReadText(out).find("held") != std::string::npos; }, 20))
        << world_.heldFiles_[i] << " could not be held open: " << ReadText(err);
  }
}

void Scenario::Run(const std::string& argument) { RunWithArguments({argument}); }
void Scenario::RunWithoutArgument() { RunWithArguments({}); }

void Scenario::RunWithArguments(const std::vector<std::string>& arguments) {
  Prepare();
  if (HasFatalFailure()) return;
  RunOnce(arguments);
  // A run that ended without a single trace line did not really start (seen
  // once right after a rebuild); it gets one more attempt, never a pass.
  if (!result_.timedOut && Trace().empty()) {
    fs::rename(out_ + "/trace.log", out_ + "/trace-attempt1.log");
    RunOnce(arguments);
  }
  Finish();
}

void Scenario::RunAgain(const std::string& argument) {
  // The start before keeps its records in a folder of its own.
  const std::string before = out_ + "/start-" + std::to_string(++starts_);
  std::error_code ec;
  fs::create_directories(before, ec);
  for (const char* name : {"logs", "trace.log", "stdout.log", "requests.jsonl", "probe.txt", "summary.txt"})
    fs::rename(out_ + "/" + name, before + "/" + name, ec);
  fs::create_directories(out_ + "/logs", ec);
  finished_ = false;
  startsBefore_ = 0;
  result_ = RunResult();
  if (world_.servedTree_.empty()) fs::remove_all(out_ + "/tree", ec);
  PublishTree();
  if (HasFatalFailure()) return;
  StartServer();
  if (HasFatalFailure()) return;
  StartAnswerer();
  if (HasFatalFailure()) return;
  RunOnce({argument});
  Finish();
}

std::vector<double> Scenario::WindowAnswersMs() const {
  std::vector<double> answers;
  std::istringstream in(ReadText(out_ + "/probe.txt"));
  for (std::string word, value; in >> word;) {
    if (word != "answer" || !(in >> value)) continue;
    answers.push_back(value == "none" ? 5000 : std::stod(value));
  }
  return answers;
}

bool Scenario::ProbeClosedWindow() const {
  return ReadText(out_ + "/probe.txt").find("closed") != std::string::npos;
}

namespace {
long long SentInLog(const std::string& log, const std::string& path) {
  std::map<std::string, std::string> pathOf;  // seq -> path
  long long sent = 0;
  for (const auto& r : tb::ReadJsonLines(log, true)) {
    auto seq = r.find("seq"), answered = r.find("answered");
    if (seq != r.end() && r.count("path")) pathOf[seq->second] = r.at("path");
    if (answered == r.end() || !r.count("sent")) continue;
    if (path.empty() || pathOf[answered->second] == path) sent += std::stoll(r.at("sent"));
  }
  return sent;
}
}  // namespace


void Scenario::RunOnce(const std::vector<std::string>& arguments) {
  ++result_.attempts;
  std::vector<std::string> argv = {"wine", UnixPath(ClientFolder() + "Ulmet.exe")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto env = wineEnv_;
  env["WINEDEBUG"] = "-all,+debugstr" + (world_.wineDebug_.empty() ? "" : "," + world_.wineDebug_);
  env["WINEDLLOVERRIDES"] = Env("WINEDLLOVERRIDES", "") + world_.missingLibraries_;
  pid_t probe = -1;
  if (world_.probe_) {
    std::vector<std::string> probeArgv = {"wine", TestPaths().winBin + "/tbctl.exe", "probe", kMainDialogTitle,
                                          std::to_string(static_cast<long>(world_.timeLimit_ * 1000))};
    if (world_.probeCloseAfter_ > 0)
      probeArgv.push_back(std::to_string(static_cast<long>(world_.probeCloseAfter_ * 1000)));
    probe = StartProcess({probeArgv, wineEnv_, "", out_ + "/probe.txt", out_ + "/probe.err"});
  }
  double start = NowSeconds();
  result_.startEpochMs = EpochMs();
  pid_t pid = StartProcess({argv, env, UnixPath(ClientFolder()), out_ + "/stdout.log", out_ + "/trace.log"});
  size_t boxesSeen = 0;
  int dialogsSeen = 0;
  ProcResult r;
  result_.peakKb = 0;
  result_.peakAnonKb = 0;
  while (!TryWait(pid, &r.exitCode)) {
    // The peak only grows: read often, the last reading is close to the end.
    result_.peakKb = std::max(result_.peakKb, PeakResidentKb(pid));
    // The anonymous memory has no peak of its own: sampled as often.
    result_.peakAnonKb = std::max(result_.peakAnonKb, StatusKb(pid, "RssAnon"));
    // Still running: picture every new box while it is on screen.
    std::vector<Box> boxes = Boxes();
    while (boxesSeen < boxes.size()) Screenshot("box-" + std::to_string(++boxesSeen));
    for (int shown = DialogShownCount(); dialogsSeen < shown;) Screenshot("dialog-" + std::to_string(++dialogsSeen));
    if (world_.killWhenSent_ > 0 && SentInLog(out_ + "/requests.jsonl", "") >= world_.killWhenSent_) {
      kill(-pid, SIGKILL);
      WaitProcess(pid, 5);
      world_.killWhenSent_ = 0;
      result_.killed = true;
      r.exitCode = -1;
      break;
    }
    if (NowSeconds() - start > world_.timeLimit_) {
      Screenshot("timeout");
      kill(-pid, SIGKILL);
      WaitProcess(pid, 5);
      r.timedOut = true;
      r.exitCode = -1;
      break;
    }
    SleepSeconds(0.02);
  }
  result_.exitCode = r.exitCode;
  result_.timedOut = r.timedOut;
  result_.seconds = NowSeconds() - start;
  // The probe ends by itself once the dialog is gone.
  if (probe > 0) WaitProcess(probe, 10);
}

void Scenario::Finish() {
  finished_ = true;
  const auto& P = TestPaths();
  // Programs that the updater started may still be writing their records:
  // wait until the logs have been quiet for half a second (at most 4 s).
  auto sizes = [&] {
    std::string s;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(out_ + "/logs", ec)) s += std::to_string(fs::file_size(e.path(), ec)) + ",";
    return s;
  };
  WaitFor([&] { return !UpdaterRunning(P.prefix); }, world_.timeLimit_);
  SleepSeconds(0.5);
  std::string last = sizes();
  double quietSince = NowSeconds();
  for (double t0 = NowSeconds(); NowSeconds() - t0 < 4;) {
    SleepSeconds(0.1);
    std::string now = sizes();
    if (now != last) {
      last = now;
      quietSince = NowSeconds();
    } else if (NowSeconds() - quietSince >= 0.5) {
      break;
    }
  }
  Screenshot("end");
  for (int pid : holderPids_) StopProcess(pid);
  holderPids_.clear();
  RunProcess({{"wine", P.winBin + "/tbctl.exe", "quit", "5000"}, wineEnv_, "", "/dev/null", "/dev/null"}, 30);
  if (answererPid_ > 0) WaitProcess(answererPid_, 5);
  answererPid_ = -1;
  StopServer();
  WriteSummary();
}

void Scenario::Screenshot(const std::string& name) {
  RunProcess({{"import", "-window", "root", out_ + "/" + name + ".png"}, {}, "", "/dev/null", "/dev/null"}, 15);
}

bool Scenario::WaitFor(const std::function<bool()>& done, double seconds) const {
  for (double t0 = NowSeconds();; SleepSeconds(0.05)) {
    if (done()) return true;
    if (NowSeconds() - t0 > seconds) return false;
  }
}

std::vector<tb::Record> Scenario::Log(const std::string& file) const {
  return tb::ReadJsonLines(out_ + "/logs/" + file, false);
}

std::vector<std::string> Scenario::Trace() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadText(out_ + "/trace.log"));
  std::string line;
  const std::string marker = "warn:debugstr:OutputDebugStringA \"";
  while (std::getline(in, line)) {
    size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    std::string raw = line.substr(at + marker.size());
    size_t end = raw.rfind('"');
    if (end != std::string::npos) raw.resize(end);
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\' || i + 1 >= raw.size()) {
        text += raw[i];
        continue;
      }
      char e = raw[++i];
      if (e == 'n') text += '\n';
      else if (e == 'r') text += '\r';
      else if (e == 't') text += '\t';
      else if (e == 'x' && i + 2 < raw.size()) {
        text += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        text += e;
      }
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    lines.push_back(Cp949ToUtf8(text));
  }
  return lines;
}

std::vector<Box> Scenario::Boxes() const {
  std::vector<Box> boxes;
  for (const auto& r : Log("boxes.jsonl")) {
    if (!r.count("event") || r.at("event") != "box") continue;
    boxes.push_back({r.at("kind"), r.at("caption"), r.at("text"), r.at("answer")});
    boxes.back().dialogVisible = r.count("watched_visible") && r.at("watched_visible") == "1";
  }
  return boxes;
}

int Scenario::DialogShownCount() const {
  int shown = 0;
  for (const auto& r : Log("boxes.jsonl"))
    if (r.count("event") && r.at("event") == "window" && r.at("visible") == "1") ++shown;
  return shown;
}

std::vector<std::string> Scenario::ScreenOrder() const {
  std::vector<std::string> order;
  for (const auto& r : Log("boxes.jsonl")) {
    if (!r.count("event")) continue;
    if (r.at("event") == "box") order.push_back("box:" + r.at("text"));
    if (r.at("event") == "window" && r.at("visible") == "1") order.push_back("dialog");
  }
  return order;
}

std::vector<tb::Record> Scenario::Starts() const {
  auto all = Log("starts.jsonl");
  if (startsBefore_ >= all.size()) return {};
  return std::vector<tb::Record>(all.begin() + static_cast<long>(startsBefore_), all.end());
}

std::vector<std::string> Scenario::Pages() const {
  std::vector<std::string> pages;
  for (const auto& r : Log("pages.jsonl")) pages.push_back(r.count("url") ? r.at("url") : "");
  return pages;
}

void Scenario::Figure(const std::string& name, double value) {
  char line[160];
  std::snprintf(line, sizeof line, "%s %.3f\n", name.c_str(), value);
  std::fputs(line, stdout);
  std::ofstream(out_ + "/figures.txt", std::ios::app) << line;
}

long long Scenario::BytesSent(const std::string& path) const { return SentInLog(out_ + "/requests.jsonl", path); }

std::vector<tb::Record> Scenario::Requests() const {
  std::vector<tb::Record> requests;
  for (const auto& r : tb::ReadJsonLines(out_ + "/requests.jsonl", true))
    if (r.count("method")) requests.push_back(r);
  return requests;
}

std::string Scenario::RegistryValue(const std::string& key, const std::string& name) const {
  std::string file = out_ + "/reg-query.out";
  ProcResult r = RunProcess({{"wine", "reg", "query", key, "/v", name}, wineEnv_, "", file, "/dev/null"}, 30);
  if (r.exitCode != 0) return "";
  std::istringstream in(Cp949ToUtf8(ReadText(file)));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = line.find("REG_SZ");
    if (at == std::string::npos) continue;
    std::string head = line.substr(0, at);
    while (!head.empty() && head.back() == ' ') head.pop_back();
    size_t s = head.find_first_not_of(' ');
    if (s == std::string::npos || Lower(head.substr(s)) != Lower(name)) continue;
    std::string value = line.substr(at + 6);
    size_t v = value.find_first_not_of(' ');
    return v == std::string::npos ? "" : value.substr(v);
  }
  return "";
}

bool Scenario::RegistryKeyExists(const std::string& key) const {
  ProcResult r = RunProcess({{"wine", "reg", "query", key}, wineEnv_, "", "/dev/null", "/dev/null"}, 30);
  return r.exitCode == 0;
}

bool Scenario::ClientFileExists(const std::string& relative) const {
  return fs::exists(UnixPath(ClientFolder() + relative));
}

std::string Scenario::ClientFileText(const std::string& relative) const {
  return ReadText(UnixPath(ClientFolder() + relative));
}

void Scenario::WriteSummary() {
  std::ostringstream s;
  s << "exit code " << result_.exitCode << (result_.timedOut ? " (time limit reached)" : "") << ", "
    << result_.seconds << " s, " << result_.attempts << " attempt(s)\n";
  for (const auto& b : Boxes()) s << "box [" << b.kind << "] " << b.caption << " | " << b.text << " -> " << b.answer << "\n";
  s << "main dialog shown " << DialogShownCount() << " time(s)\n";
  for (const auto& p : Pages()) s << "page " << p << "\n";
  for (const auto& r : Starts()) s << "started " << r.at("program") << ": " << r.at("command_line") << "\n";
  for (const auto& r : Requests())
    s << "request " << r.at("method") << " " << r.at("target") << " -> " << r.at("status") << "\n";
  for (const auto& t : Trace()) s << "trace " << t << "\n";
  WriteText(out_ + "/summary.txt", s.str());
}

// ---- Expectations --------------------------------------------------------

void Scenario::ExpectTrace(const std::string& fragment) {
  auto lines = Trace();
  bool found = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
  EXPECT_TRUE(found) << "no trace line contains \"" << fragment << "\"; see " << out_ << "/summary.txt";
}

void Scenario::ExpectNoTrace(const std::string& fragment) {
  for (const auto& l : Trace()) EXPECT_EQ(l.find(fragment), std::string::npos) << "unexpected trace line: " << l;
}

void Scenario::ExpectBox(const std::string& message, const std::string& caption) {
  bool found = false;
  for (const auto& b : Boxes()) found = found || (b.text == message && (caption.empty() || b.caption == caption));
  EXPECT_TRUE(found) << "no box with the message \"" << message << "\"; see " << out_ << "/summary.txt";
}

void Scenario::ExpectBoxes(const std::vector<std::string>& messages) {
  std::vector<std::string> seen;
  for (const auto& b : Boxes()) seen.push_back(b.text);
  EXPECT_EQ(seen, messages);
}

void Scenario::ExpectNoBox() {
  auto boxes = Boxes();
  EXPECT_TRUE(boxes.empty()) << "a box was shown: " << (boxes.empty() ? "" : boxes[0].text);
}

void Scenario::ExpectPageOpened(const std::string& url) {
  auto pages = Pages();
  EXPECT_NE(std::find(pages.begin(), pages.end(), url), pages.end()) << "page " << url << " was not opened";
}

void Scenario::ExpectNoPageOpened() {
  auto pages = Pages();
  EXPECT_TRUE(pages.empty()) << "page opened: " << (pages.empty() ? "" : pages[0]);
}

void Scenario::ExpectStarted(const std::string& program, const std::string& commandLineEnd) {
  bool found = false;
  std::string seen;
  for (const auto& r : Starts()) {
    seen += r.at("program") + ": " + r.at("command_line") + "\n";
    if (Lower(r.at("program")) == Lower(program) && EndsWith(r.at("command_line"), commandLineEnd)) found = true;
  }
  EXPECT_TRUE(found) << program << " was not started with a command line ending in [" << commandLineEnd
                     << "]; started:\n" << seen;
}

void Scenario::ExpectNothingStarted() {
  auto starts = Starts();
  EXPECT_TRUE(starts.empty()) << "started: " << (starts.empty() ? "" : starts[0].at("program"));
}

void Scenario::ExpectNothingStartedBut(const std::vector<std::string>& programs) {
  for (const auto& r : Starts()) {
    bool allowed = false;
    for (const auto& p : programs) allowed = allowed || Lower(p) == Lower(r.at("program"));
    EXPECT_TRUE(allowed) << "unexpected start of " << r.at("program") << ": " << r.at("command_line");
  }
}

void Scenario::ExpectRequested(const std::string& path) {
  auto reqs = Requests();
  bool found = std::any_of(reqs.begin(), reqs.end(), [&](const tb::Record& r) { return r.at("path") == path; });
  EXPECT_TRUE(found) << path << " was not requested";
}

void Scenario::ExpectNotRequested(const std::string& path) {
  for (const auto& r : Requests()) EXPECT_NE(r.at("path"), path) << path << " was requested";
}

void Scenario::ExpectPosted(const std::string& path, const std::string& bodyFragment) {
  bool found = false;
  for (const auto& r : Requests()) {
    if (r.at("method") == "POST" && r.at("path") == path && r.at("body").find(bodyFragment) != std::string::npos)
      found = true;
  }
  EXPECT_TRUE(found) << "no POST to " << path << " with \"" << bodyFragment << "\"";
}

void Scenario::ExpectRegistry(const std::string& key, const std::string& name, const std::string& value) {
  EXPECT_EQ(RegistryValue(key, name), value) << key << " " << name;
}

void Scenario::ExpectClientFile(const std::string& relative, const std::string& content) {
  EXPECT_TRUE(ClientFileExists(relative)) << relative << " is missing";
  EXPECT_EQ(ClientFileText(relative), content) << relative;
}

void Scenario::ExpectNoClientFile(const std::string& relative) {
  EXPECT_FALSE(ClientFileExists(relative)) << relative << " should not exist";
}

namespace {

// Every file and folder below root, by relative path, with the files' bytes
// ("/" for a folder).
std::map<std::string, std::string> FolderContent(const fs::path& root) {
  std::map<std::string, std::string> content;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = fs::relative(it->path(), root, ec).generic_string();
    content[rel] = it->is_directory() ? "/" : ReadText(it->path().string());
  }
  return content;
}

}  // namespace

void Scenario::ExpectClientFolderEquals(const std::string& unixFolder) {
  auto want = FolderContent(unixFolder);
  auto have = FolderContent(UnixPath(ClientFolder()));
  // Every run makes the player's data folder, and a tree that turns the
  // verified-state record on has the updater keep its record beside the
  // files; a release holds neither.
  for (auto it = have.begin(); it != have.end();) {
    const bool players = it->first == "UserData" || it->first.rfind("UserData/", 0) == 0 ||
                         it->first == "ULVerified.dat";
    it = players ? have.erase(it) : std::next(it);
  }
  for (const auto& w : want) {
    auto h = have.find(w.first);
    if (h == have.end()) {
      ADD_FAILURE() << "missing in the client folder: " << w.first;
    } else {
      EXPECT_TRUE(h->second == w.second) << "differs from the release: " << w.first;
    }
  }
  for (const auto& h : have) {
    if (!want.count(h.first)) ADD_FAILURE() << "not in the release: " << h.first;
  }
}

void Scenario::ExpectEndedWithin(double seconds) {
  EXPECT_FALSE(result_.timedOut) << "the run reached its time limit";
  EXPECT_LE(result_.seconds, seconds);
}

}  // namespace scn
