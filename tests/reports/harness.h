// What the tests of ulmet-reports share: the stores they run against, the
// real program started and stopped (also with SIGKILL), and plain HTTP.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace ulrt {

// "sqlite", and "postgres" when ULMET_REPORTS_TEST_PG holds a connection
// string of a server the test command started (with_postgres.sh).
std::vector<std::string> StoreKinds();
// A new, empty store of that kind for one test: a file in folder, or a
// database made afresh on the test server.
std::string FreshStore(const std::string& kind, const std::string& name, const std::string& folder);
// Runs one SQL statement on the store, as an operator's own tool would.
bool ExecSql(const std::string& store, const std::string& sql);
// A folder of its own below the tests' output folder, made empty.
std::string TestFolder(const std::string& name);

// ulmet-reports serve, as the operator starts it.
class ReportsServer {
 public:
  ReportsServer(std::string store, std::string folder, std::string password = "",
                std::vector<std::string> extra = {});
  ~ReportsServer();
  // Starts it on listen (port 0: any) and waits until it listens; false
  // with its output when it did not.
  bool Start(const std::string& listen = "127.0.0.1:0");
  bool Restart();  // on the same address and port
  void Kill();     // SIGKILL: nothing of it runs on
  int Stop();      // SIGTERM; its exit code
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  std::string Output() const;

 private:
  std::string store_, folder_, password_;
  std::vector<std::string> extra_;
  std::string host_;
  int port_ = 0;
  pid_t pid_ = -1;
  int starts_ = 0;
};

// A crash report body as the updater builds it, with these summary fields.
std::string ReportBody(const std::string& uid, const std::string& log, const std::string& fmod = "UlmetMain.exe",
                       const std::string& ver = "4001\n");

// The test bed's crashing client (testbed/win/crashme.cpp, with its crash
// handler) built with our cross toolchain with debug information (DWARF)
// and a map file into folder as UlmetMain.exe and UlmetMain.map; with
// shift, with more code before its functions (a next build: the same
// functions at other offsets); with pdb, by clang and lld instead, with a
// program database UlmetMain.pdb. Where its functions lie, as the
// toolchain's own tools tell (objdump, nm, llvm-pdbutil).
struct ClientBuild {
  std::string folder, program, map, pdb;
  std::uint64_t imageBase = 0, textRva = 0;
  std::map<std::string, std::uint64_t> rva;  // CrashHere, LoadLevel, RunGame, main
  std::string output;  // the tools' messages when it failed
};
bool BuildCrashingClient(const std::string& folder, bool shift, bool pdb, ClientBuild* build);
// A crash log such as its handler writes, for version, with the fault
// in CrashHere and the stack through LoadLevel, RunGame and main, then
// kernel32.dll.
std::string ClientCrashLog(const ClientBuild& build, const std::string& version);
// The post the updater makes of a log (its summary fields read by the
// updater's own reader).
std::string PostOfLog(const std::string& uid, const std::string& log);

// Headless Chromium's screenshot of the page (shot, at twice the pixels)
// and its DOM once loaded; false when it did not run.
bool Browse(const std::string& folder, const std::string& url, const std::string& shot, std::string* dom);
// The text OCR reads in a picture, as one column of lines, blanks removed
// (Korean OCR puts blanks between syllables now and then).
std::string Ocr(const std::string& folder, const std::string& png);

// nginx with the shipped server blocks (reports/nginx/ulmet-reports.conf) on
// free loopback ports, plain and TLS (with a certificate made for the
// test), balancing over the receivers on these ports.
class Nginx {
 public:
  Nginx(std::string folder, std::vector<int> receivers);
  ~Nginx();
  bool Start();  // false with its error log in Output()
  int port() const { return port_; }
  int tls_port() const { return tlsPort_; }
  // The certificate of the TLS block, to verify it with.
  std::string certificate() const { return folder_ + "/cert.pem"; }
  std::string Output() const;

 private:
  std::string folder_;
  std::vector<int> receivers_;
  int port_ = 0, tlsPort_ = 0;
  pid_t pid_ = -1;
};

// What one exchange on a new connection brought.
struct Exchanged {
  int status = -1;      // the first answer's; -1 when none came
  std::string answer;   // its bytes
  bool closed = false;  // the server ended the connection after it (looked for only when asked)
  double seconds = 0;   // from connecting to the whole first answer
};
// Sends the bytes on a new connection from the address from (empty: any)
// and reads the first answer. With halfClose, the sending side is shut
// after the bytes (a sender that stops in the middle of its body); with
// watchClose, it waits up to 2 s for the server to end the connection.
Exchanged Exchange(const std::string& host, int port, const std::string& bytes, const std::string& from = "",
                   bool halfClose = false, bool watchClose = false);
// The same, for the status alone.
int RawExchange(const std::string& host, int port, const std::string& bytes, bool halfClose = false,
                std::string* answer = nullptr);
// The bytes of a form post of body to path, and of a page's request with
// the operator's password (empty: none).
std::string PostRequest(const std::string& path, const std::string& body);
std::string PageRequest(const std::string& path, const std::string& password);
// A crash report post as the updater sends it; the answer's status or -1.
int PostReport(const std::string& host, int port, const std::string& path, const std::string& body);
// A page with the operator's password (empty: none); its status and body.
// With tlsCertificate, over TLS, the server verified with that certificate.
int GetPage(const std::string& host, int port, const std::string& path, const std::string& password,
            std::string* body, const std::string& tlsCertificate = "");

// Connections that send the head of a post one byte a second and never
// finish it, one from each address of from, until destroyed.
class SlowSenders {
 public:
  SlowSenders(const std::string& host, int port, const std::vector<std::string>& from);
  ~SlowSenders();

 private:
  std::vector<int> fds_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A small disk of its own (tmpfs) mounted on folder, unmounted with its
// owner.
class SmallDisk {
 public:
  SmallDisk(std::string folder, int megabytes);
  ~SmallDisk();
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

}  // namespace ulrt
