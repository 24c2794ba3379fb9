#include "harness.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/crash_log.h"
#include "crash/crash_log.h"
#include "crash/form_encode.h"
#include "harness/proc.h"

namespace ulrt {

namespace fs = std::filesystem;

std::vector<std::string> StoreKinds() {
  std::vector<std::string> kinds = {"sqlite"};
  const char* pg = std::getenv("ULMET_REPORTS_TEST_PG");
  if (pg != nullptr && *pg != '\0') kinds.push_back("postgres");
  return kinds;
}

std::string TestFolder(const std::string& name) {
  const fs::path folder = fs::path(ULR_OUT) / name;
  std::error_code ec;
  fs::remove_all(folder, ec);
  fs::create_directories(folder);
  return folder.string();
}

std::string FreshStore(const std::string& kind, const std::string& name, const std::string& folder) {
  if (kind == "sqlite") {
    const std::string path = folder + "/reports.db";
    for (const char* end : {"", "-wal", "-shm"}) std::remove((path + end).c_str());
    return "sqlite:" + path;
  }
  std::string db = "ulr_";
  for (char c : name) db += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
  const std::string server = std::getenv("ULMET_REPORTS_TEST_PG");
  PGconn* conn = PQconnectdb((server + " dbname=postgres").c_str());
  for (const std::string& sql : {std::string("SET client_min_messages = warning"), "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)", "CREATE DATABASE " + db}) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(conn));
    PQclear(r);
  }
  PQfinish(conn);
  return server + " dbname=" + db;
}

bool ExecSql(const std::string& store, const std::string& sql) {
  if (store.rfind("sqlite:", 0) == 0) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(store.c_str() + 7, &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
  }
  PGconn* conn = PQconnectdb(store.c_str());
  PGresult* r = PQexec(conn, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  PQclear(r);
  PQfinish(conn);
  return ok;
}

ReportsServer::ReportsServer(std::string store, std::string folder, std::string password,
                             std::vector<std::string> extra)
    : store_(std::move(store)), folder_(std::move(folder)), password_(std::move(password)),
      extra_(std::move(extra)) {}

ReportsServer::~ReportsServer() {
  if (pid_ > 0) Kill();
}

bool ReportsServer::Start(const std::string& listen) {
  const std::string ready = folder_ + "/ready";
  std::remove(ready.c_str());
  scn::ProcSpec p;
  p.argv = {ULR_BIN, "serve", "--store", store_, "--listen", listen, "--ready-file", ready};
  if (!password_.empty()) {
    const std::string file = folder_ + "/password";
    scn::WriteText(file, password_ + "\n");
    p.argv.insert(p.argv.end(), {"--password-file", file});
  }
  p.argv.insert(p.argv.end(), extra_.begin(), extra_.end());
  p.stdoutFile = p.stderrFile = folder_ + "/server-" + std::to_string(++starts_) + ".log";
  pid_ = scn::StartProcess(p);
  if (pid_ <= 0) return false;
  for (int i = 0; i < 600; ++i) {
    std::ifstream in(ready);
    if (in >> host_ >> port_) return true;
    int code = 0;
    if (scn::TryWait(pid_, &code)) {
      pid_ = -1;
      return false;
    }
    scn::SleepSeconds(0.02);
  }
  return false;
}

bool ReportsServer::Restart() { return Start(host_ + ":" + std::to_string(port_)); }

void ReportsServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int ReportsServer::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const scn::ProcResult r = scn::WaitProcess(pid_, 20);
  pid_ = -1;
  return r.timedOut ? -1 : r.exitCode;
}

std::string ReportsServer::Output() const {
  std::string all;
  for (int i = 1; i <= starts_; ++i) all += scn::ReadText(folder_ + "/server-" + std::to_string(i) + ".log");
  return all;
}

namespace {

// A port nobody listens on now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  socklen_t n = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  close(fd);
  return ntohs(a.sin_port);
}

void ReplaceOnce(std::string* text, const std::string& from, const std::string& to) {
  const std::size_t at = text->find(from);
  if (at != std::string::npos) text->replace(at, from.size(), to);
}

}  // namespace

Nginx::Nginx(std::string folder, std::vector<int> receivers)
    : folder_(std::move(folder) + "/nginx"), receivers_(std::move(receivers)) {}

Nginx::~Nginx() {
  if (pid_ > 0) scn::StopProcess(pid_);
}

bool Nginx::Start() {
  fs::create_directories(folder_ + "/logs");
  port_ = FreePort();
  tlsPort_ = FreePort();
  scn::ProcSpec cert;
  cert.argv = {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
               "-days", "2", "-subj", "/CN=reports.example", "-addext", "subjectAltName=IP:127.0.0.1",
               "-keyout", folder_ + "/key.pem", "-out", certificate()};
  cert.stdoutFile = cert.stderrFile = folder_ + "/openssl.log";
  if (scn::RunProcess(cert, 30).exitCode != 0) return false;
  std::string block = scn::ReadText(std::string(ULR_SOURCE) + "/reports/nginx/ulmet-reports.conf");
  ReplaceOnce(&block, "listen 80;", "listen 127.0.0.1:" + std::to_string(port_) + ";");
  ReplaceOnce(&block, "listen 443 ssl;", "listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl;");
  ReplaceOnce(&block, "/etc/ulmet-reports/tls/fullchain.pem", certificate());
  ReplaceOnce(&block, "/etc/ulmet-reports/tls/privkey.pem", folder_ + "/key.pem");
  std::string servers;
  for (int p : receivers_) servers += "server 127.0.0.1:" + std::to_string(p) + ";\n    ";
  ReplaceOnce(&block, "server 127.0.0.1:8080;", servers);
  scn::WriteText(folder_ + "/ulmet-reports.conf", block);
  scn::WriteText(folder_ + "/nginx.conf",
                 "user root;\nworker_processes 1;\npid " + folder_ + "/nginx.pid;\nerror_log " + folder_ +
                     "/error.log;\nevents {}\nhttp {\n  access_log off;\n  client_body_temp_path " + folder_ +
                     "/body;\n  proxy_temp_path " + folder_ + "/proxy;\n  include " + folder_ +
                     "/ulmet-reports.conf;\n}\n");
  scn::ProcSpec p;
  p.argv = {"nginx", "-p", folder_, "-c", folder_ + "/nginx.conf", "-g", "daemon off;"};
  p.stderrFile = folder_ + "/stderr.log";
  pid_ = scn::StartProcess(p);
  for (int i = 0; pid_ > 0 && i < 200; ++i) {
    if (RawExchange("127.0.0.1", port_, "GET /x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") > 0) return true;
    scn::SleepSeconds(0.05);
  }
  return false;
}

std::string Nginx::Output() const {
  return scn::ReadText(folder_ + "/stderr.log") + scn::ReadText(folder_ + "/error.log");
}

namespace {

// The output of a tool run on the arguments; empty when it failed.
std::string ToolOutput(const std::vector<std::string>& argv, const std::string& folder) {
  scn::ProcSpec p;
  p.argv = argv;
  p.stdoutFile = folder + "/tool.out";
  p.stderrFile = folder + "/tool.err";
  return scn::RunProcess(p, 300).exitCode == 0 ? scn::ReadText(p.stdoutFile) : std::string();
}

// The hexadecimal or decimal number after the first of key in text.
std::uint64_t NumberAfter(const std::string& text, const std::string& key, int base) {
  const std::size_t at = text.find(key);
  return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + key.size(), nullptr, base);
}

bool FindFunctions(ClientBuild* b) {
  const std::string sections = ToolOutput({"i686-w64-mingw32-objdump", "-h", b->program}, b->folder);
  const std::string headers = ToolOutput({"i686-w64-mingw32-objdump", "-p", b->program}, b->folder);
  b->imageBase = NumberAfter(headers, "ImageBase\t\t", 16);
  const std::size_t text = sections.find(" .text ");
  if (text == std::string::npos || b->imageBase == 0) return false;
  std::istringstream line(sections.substr(text));
  std::string name, size, vma;
  line >> name >> size >> vma;
  b->textRva = std::strtoull(vma.c_str(), nullptr, 16) - b->imageBase;
  const std::string symbols = b->pdb.empty() ? ToolOutput({"i686-w64-mingw32-nm", b->program}, b->folder)
                                             : ToolOutput({"llvm-pdbutil", "dump", "--symbols", b->pdb}, b->folder);
  for (const char* name : {"CrashHere", "LoadLevel", "RunGame", "main"}) {
    const std::string mangled = std::string(name) == "main" ? " _main" : std::to_string(std::strlen(name)) + name + "Ei";
    const std::size_t at = b->pdb.empty() ? symbols.find(mangled + "\n") : symbols.find(std::string(name) == "main" ? "`main`" : "::" + std::string(name) + "`");
    if (at == std::string::npos) return false;
    if (b->pdb.empty()) {
      b->rva[name] = std::strtoull(symbols.c_str() + symbols.rfind('\n', at) + 1, nullptr, 16) - b->imageBase;
    } else {
      b->rva[name] = b->textRva + NumberAfter(symbols.substr(at), "addr = 0001:", 10);
    }
  }
  return true;
}

}  // namespace

bool BuildCrashingClient(const std::string& folder, bool shift, bool pdb, ClientBuild* b) {
  fs::create_directories(folder);
  b->folder = folder;
  b->program = folder + "/UlmetMain.exe";
  const std::string src = ULR_SOURCE;
  const std::string gcc = "/usr/lib/gcc/i686-w64-mingw32/12-posix";
  scn::ProcSpec p;
  if (pdb) {
    b->pdb = folder + "/UlmetMain.pdb";
    p.argv = {"clang++-14", "--target=i686-w64-mingw32", "-gcodeview", "-isystem", gcc + "/include/c++", "-isystem",
              gcc + "/include/c++/i686-w64-mingw32", "-fuse-ld=lld", "-L" + gcc, "-Wl,--pdb=" + b->pdb};
  } else {
    b->map = folder + "/UlmetMain.map";
    p.argv = {"i686-w64-mingw32-g++-posix", "-static-libgcc", "-static-libstdc++", "-Wl,-Map=" + b->map};
  }
  p.argv.insert(p.argv.end(), {"-std=c++17", "-g", "-O0", "-fno-omit-frame-pointer", "-static", "-I" + src,
                               "-I" + src + "/testbed", "-I" + src + "/testbed/win", src + "/testbed/win/crashme.cpp",
                               src + "/testbed/win/crash_handler.cpp", src + "/testbed/common/crash_log.cpp",
                               "-o", b->program});
  if (pdb) p.argv.push_back("-lpthread");
  if (shift) p.argv.push_back("-DCRASHME_SHIFT=5");
  p.stdoutFile = p.stderrFile = folder + "/build.log";
  if (scn::RunProcess(p, 300).exitCode != 0 || !FindFunctions(b)) {
    b->output = scn::ReadText(folder + "/build.log") + scn::ReadText(folder + "/tool.err");
    return false;
  }
  return true;
}

std::string ClientCrashLog(const ClientBuild& b, const std::string& version) {
  const auto hex = [](std::uint64_t v, int digits) {
    char text[20];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(v));
    return std::string(text);
  };
  const std::string module = "C:\\Ulmet\\UlmetMain.exe";
  const std::uint64_t fault = b.rva.at("CrashHere") + 3;
  std::string log = tb::CrashLogHead(version, "C0000005 ACCESS_VIOLATION");
  log += tb::FaultLine(hex(b.imageBase + fault, 8), "01", hex(fault - b.textRva, 8), module);
  log += tb::StackHeader();
  std::uint64_t frame = 0x0021FE00;
  for (const char* name : {"CrashHere", "LoadLevel", "RunGame", "main"}) {
    const std::uint64_t rva = b.rva.at(name) + (std::string(name) == "CrashHere" ? 3 : 8);
    log += tb::StackLine(hex(b.imageBase + rva, 8), hex(frame += 0x20, 8), "0001", hex(rva - b.textRva, 8), module);
  }
  log += tb::StackLine("7B6293E0", hex(frame + 0x20, 8), "0001", "000283E0", "C:\\windows\\system32\\kernel32.dll");
  return log + tb::StackEnd();
}

std::string PostOfLog(const std::string& uid, const std::string& log) {
  CrashLogFields f;
  std::FILE* file = fmemopen(const_cast<char*>(log.data()), log.size(), "r");
  ParseCrashLogStream(file, f.fadd, f.fmod, f.ladd, f.lmod, f.ver);
  std::fclose(file);
  return BuildCrashReportBody(uid.c_str(), f, log.data(), log.size());
}

// Chromium's screenshot of the page and its DOM once loaded (scripts run);
// false when it did not run.
bool Browse(const std::string& folder, const std::string& url, const std::string& shot, std::string* dom) {
  scn::ProcSpec p;
  p.argv = {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--hide-scrollbars", "--user-data-dir=" + folder + "/profile-" + std::to_string(scn::EpochMs()),
            "--window-size=1280,720", "--force-device-scale-factor=2", "--lang=ko-KR"};
  p.argv.push_back("--screenshot=" + shot);
  p.argv.push_back("--dump-dom");
  p.argv.push_back(url);
  p.stdoutFile = folder + "/chromium.out";
  p.stderrFile = folder + "/chromium.err";
  const scn::ProcResult r = scn::RunProcess(p, 60);
  *dom = scn::ReadText(p.stdoutFile);
  return r.exitCode == 0 && !r.timedOut;
}

// The text that OCR reads in a picture (taken at twice the pixels, read
// as one column of lines), blanks removed (Korean OCR puts blanks between
// syllables now and then).
std::string Ocr(const std::string& folder, const std::string& png) {
  scn::ProcSpec p;
  p.argv = {"tesseract", png, folder + "/ocr", "-l", "kor+eng", "--psm", "4"};
  p.stderrFile = folder + "/ocr.err";
  scn::RunProcess(p, 60);
  std::string text;
  for (char c : scn::ReadText(folder + "/ocr.txt"))
    if (!std::isspace(static_cast<unsigned char>(c))) text += c;
  return text;
}

std::string ReportBody(const std::string& uid, const std::string& log, const std::string& fmod,
                       const std::string& ver) {
  CrashLogFields f;
  std::snprintf(f.ver, sizeof f.ver, "%s", ver.c_str());
  std::snprintf(f.fadd, sizeof f.fadd, "0041A2B3");
  std::snprintf(f.fmod, sizeof f.fmod, "%s", fmod.c_str());
  std::snprintf(f.ladd, sizeof f.ladd, "00023456");
  std::snprintf(f.lmod, sizeof f.lmod, "KERNEL32.dll");
  return BuildCrashReportBody(uid.c_str(), f, log.data(), log.size());
}

namespace {

// A connected socket from from (empty: any) to host:port, or -1.
int Connect(const std::string& host, int port, const std::string& from) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (!from.empty()) {
    inet_pton(AF_INET, from.c_str(), &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      return -1;
    }
  }
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether got holds a whole answer (its head and as much body as it says).
bool WholeAnswer(const std::string& got) {
  const std::size_t head = got.find("\r\n\r\n");
  if (head == std::string::npos) return false;
  const std::size_t cl = got.find("Content-Length: ");
  return cl != std::string::npos && cl < head &&
         got.size() >= head + 4 + std::strtoul(got.c_str() + cl + 16, nullptr, 10);
}

}  // namespace

Exchanged Exchange(const std::string& host, int port, const std::string& bytes, const std::string& from,
                   bool halfClose, bool watchClose) {
  Exchanged e;
  const double t0 = scn::NowSeconds();
  const int fd = Connect(host, port, from);
  if (fd < 0) return e;
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may answer and close before it read everything
    sent += static_cast<std::size_t>(n);
  }
  if (halfClose) shutdown(fd, SHUT_WR);
  char buf[4096];
  ssize_t n = 0;
  while (!WholeAnswer(e.answer) && (n = recv(fd, buf, sizeof buf, 0)) > 0) e.answer.append(buf, static_cast<std::size_t>(n));
  e.seconds = scn::NowSeconds() - t0;
  if (watchClose) {
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    n = recv(fd, buf, sizeof buf, 0);
    e.closed = n == 0 || (n < 0 && errno == ECONNRESET);
  }
  close(fd);
  if (e.answer.rfind("HTTP/1.1 ", 0) == 0 && e.answer.size() >= 12) e.status = std::atoi(e.answer.c_str() + 9);
  return e;
}

int RawExchange(const std::string& host, int port, const std::string& bytes, bool halfClose, std::string* answer) {
  const Exchanged e = Exchange(host, port, bytes, "", halfClose);
  if (answer != nullptr) *answer = e.answer;
  return e.status;
}

std::string PostRequest(const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string PageRequest(const std::string& path, const std::string& password) {
  std::string head = "GET " + path + " HTTP/1.1\r\nHost: x\r\n";
  if (!password.empty()) {
    const std::string pair = "operator:" + password;
    std::string encoded(4 * ((pair.size() + 2) / 3) + 1, '\0');
    encoded.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]),
                                                            reinterpret_cast<const unsigned char*>(pair.data()),
                                                            static_cast<int>(pair.size()))));
    head += "Authorization: Basic " + encoded + "\r\n";
  }
  return head + "\r\n";
}

int PostReport(const std::string& host, int port, const std::string& path, const std::string& body) {
  httplib::Client client(host, port);
  client.set_keep_alive(false);
  client.set_read_timeout(30, 0);
  client.set_connection_timeout(5, 0);
  auto res = client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
  return res ? res->status : -1;
}

int GetPage(const std::string& host, int port, const std::string& path, const std::string& password,
            std::string* body, const std::string& tlsCertificate) {
  httplib::Client client(tlsCertificate.empty() ? "http://" + host + ":" + std::to_string(port)
                                                : "https://" + host + ":" + std::to_string(port));
  if (!tlsCertificate.empty()) {
    client.set_ca_cert_path(tlsCertificate.c_str());
    client.enable_server_certificate_verification(true);
  }
  client.set_read_timeout(30, 0);
  if (!password.empty()) client.set_basic_auth("operator", password.c_str());
  auto res = client.Get(path.c_str());
  if (!res) return -1;
  if (body != nullptr) *body = res->body;
  return res->status;
}

SlowSenders::SlowSenders(const std::string& host, int port, const std::vector<std::string>& from) {
  for (const std::string& address : from) {
    const int fd = Connect(host, port, address);
    if (fd < 0) continue;
    const char head[] = "POST /report HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    send(fd, head, sizeof head - 1, MSG_NOSIGNAL);
    fds_.push_back(fd);
  }
  thread_ = std::thread([this] {
    while (!stop_) {
      for (int fd : fds_) send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
}

SlowSenders::~SlowSenders() {
  stop_ = true;
  thread_.join();
  for (int fd : fds_) close(fd);
}

SmallDisk::SmallDisk(std::string folder, int megabytes) : folder_(std::move(folder)) {
  fs::create_directories(folder_);
  scn::ProcSpec p;
  p.argv = {"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(megabytes) + "m", "tmpfs", folder_};
  p.stdoutFile = p.stderrFile = folder_ + ".mount.log";
  mounted_ = scn::RunProcess(p, 30).exitCode == 0;
}

SmallDisk::~SmallDisk() {
  if (!mounted_) return;
  scn::ProcSpec p;
  p.argv = {"umount", "-l", folder_};
  scn::RunProcess(p, 30);
}

}  // namespace ulrt
