// What the tests of ulmet-reports share: the stores they run against, the
// real program started and stopped (also with SIGKILL), and plain HTTP.
#pragma once

#include <sys/types.h>

#include <string>
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

// nginx with the shipped server block (reports/nginx/ulmet-reports.conf) on
// a free loopback port, balancing over the receivers on these ports.
class Nginx {
 public:
  Nginx(std::string folder, std::vector<int> receivers);
  ~Nginx();
  bool Start();  // false with its error log in Output()
  int port() const { return port_; }
  std::string Output() const;

 private:
  std::string folder_;
  std::vector<int> receivers_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Sends the bytes on a new connection and reads the answer's status: -1
// when no answer came. With halfClose, the sending side is shut after the
// bytes (a sender that stops in the middle of its body).
int RawExchange(const std::string& host, int port, const std::string& bytes, bool halfClose = false,
                std::string* answer = nullptr);
// A crash report post as the updater sends it; the answer's status or -1.
int PostReport(const std::string& host, int port, const std::string& path, const std::string& body);
// A page with the operator's password (empty: none); its status and body.
int GetPage(const std::string& host, int port, const std::string& path, const std::string& password,
            std::string* body);

}  // namespace ulrt
