#include "receive/server.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pages/export.h"
#include "pages/pages.h"
#include "receive/receiver.h"
#include "receive/report_form.h"
#include "store/committer.h"
#include "store/store.h"

namespace ulr {

namespace {

// Reports that may wait for one transaction, and for the store at all.
constexpr std::size_t kMaxBatch = 256;
constexpr std::size_t kMaxWaiting = 4096;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Log(const std::string& line) { std::fprintf(stderr, "ulmet-reports: %s\n", line.c_str()); }

// Store connections for the pages, made when needed and kept for reuse.
class StorePool {
 public:
  explicit StorePool(std::string address) : address_(std::move(address)) {}
  std::shared_ptr<ReportStore> Acquire(std::string* error) {
    std::unique_ptr<ReportStore> store;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        store = std::move(free_.back());
        free_.pop_back();
      }
    }
    if (!store) store = OpenStore(address_, false, error);
    if (!store) return nullptr;
    return std::shared_ptr<ReportStore>(store.release(), [this](ReportStore* s) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (free_.size() < 8) free_.emplace_back(s);
      else delete s;
    });
  }

 private:
  const std::string address_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ReportStore>> free_;
};

void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_header("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; base-uri 'none'; form-action 'none'; "
                 "frame-ancestors 'none'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-store");
  res.set_content(html, "text/html; charset=utf-8");
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// A regular expression that matches exactly text.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// Basic authentication with the password (any user name), compared in
// constant time through digests of both.
bool Authorized(const httplib::Request& req, const std::string& password) {
  const std::string header = req.get_header_value("Authorization");
  if (Lower(header.substr(0, 6)) != "basic ") return false;
  const std::string encoded = header.substr(6);
  if (encoded.size() > 1024 || encoded.size() % 4 != 0) return false;
  std::vector<unsigned char> decoded(encoded.size() / 4 * 3 + 1);
  int n = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const unsigned char*>(encoded.data()),
                          static_cast<int>(encoded.size()));
  if (n < 0) return false;
  for (std::size_t i = encoded.size(); i > 0 && encoded[i - 1] == '='; --i) --n;
  const std::string pair(reinterpret_cast<const char*>(decoded.data()), static_cast<std::size_t>(n));
  const std::size_t colon = pair.find(':');
  if (colon == std::string::npos) return false;
  const std::string given = pair.substr(colon + 1);
  unsigned char a[SHA256_DIGEST_LENGTH], b[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(given.data()), given.size(), a);
  SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), b);
  return CRYPTO_memcmp(a, b, sizeof a) == 0;
}

int Offset(const httplib::Request& req) {
  const std::string v = req.get_param_value("offset");
  int n = 0;
  for (char c : v) {
    if (c < '0' || c > '9' || n > 100000000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// A Content-Length that is a number of at most max.
bool LengthWithin(const std::string& value, std::size_t max) {
  if (value.empty() || value.size() > 12) return false;
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n <= max;
}

// The number in a page's address; 0 (which no row has) when it is out of
// range.
std::int64_t IdOf(const std::string& digits) {
  errno = 0;
  const long long id = std::strtoll(digits.c_str(), nullptr, 10);
  return errno == 0 ? id : 0;
}

class Service {
 public:
  Service(const ServeOptions& o, std::unique_ptr<Committer> committer)
      : o_(o), committer_(std::move(committer)), pool_(o.store) {}

  void Install(httplib::Server& svr) {
    svr.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      return Screen(req, res) ? httplib::Server::HandlerResponse::Handled
                              : httplib::Server::HandlerResponse::Unhandled;
    });
    svr.Post(Literal(o_.path), [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) { Receive(req, res, reader); });
    svr.Get("/", [this](const httplib::Request& req, httplib::Response& res) { List(req, res); });
    svr.Get(R"(/signatures/(\d{1,19}))",
            [this](const httplib::Request& req, httplib::Response& res) { ShowSignature(req, res); });
    svr.Get(R"(/signatures/(\d{1,19})/reports\.(csv|json))",
            [this](const httplib::Request& req, httplib::Response& res) { ExportSignature(req, res); });
    svr.Get(R"(/reports/(\d{1,19}))",
            [this](const httplib::Request& req, httplib::Response& res) { ShowReport(req, res, false); });
    svr.Get(R"(/reports/(\d{1,19})/log)",
            [this](const httplib::Request& req, httplib::Response& res) { ShowReport(req, res, true); });
    svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) {
        const char* text = res.status == 404 ? "not found" : res.status == 413 ? "the body is too large" : "refused";
        Plain(res, res.status, text);
      }
    });
  }

 private:
  // What is answered before the body is read: the receiving path takes
  // only form posts of a bounded length; the pages need the password.
  bool Screen(const httplib::Request& req, httplib::Response& res) {
    if (req.path == o_.path) {
      const std::string type = Lower(req.get_header_value("Content-Type"));
      const std::string encoding = Lower(req.get_header_value("Content-Encoding"));
      if (req.method != "POST") {
        res.set_header("Allow", "POST");
        Plain(res, 405, "only POST is taken here");
      } else if (!req.has_header("Content-Length")) {
        Plain(res, 411, "a post needs Content-Length");
      } else if (!LengthWithin(req.get_header_value("Content-Length"), kMaxBodyBytes)) {
        Plain(res, 413, "the body is larger than any crash report");
      } else if (type.substr(0, type.find(';')) != "application/x-www-form-urlencoded") {
        Plain(res, 415, "the body must be application/x-www-form-urlencoded");
      } else if (!encoding.empty() && encoding != "identity") {
        Plain(res, 415, "the body must not be compressed");
      } else {
        return false;
      }
      res.set_header("Connection", "close");
      Log(std::to_string(res.status) + " from " + req.remote_addr + ": " + req.method + " " + req.path);
      return true;
    }
    if (o_.password.empty()) {
      Plain(res, 404, "not found");
      return true;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      res.set_header("Connection", "close");
      Plain(res, 405, "the pages are read with GET");
      return true;
    }
    if (!Authorized(req, o_.password)) {
      res.set_header("WWW-Authenticate", "Basic realm=\"ulmet-reports\", charset=\"UTF-8\"");
      Html(res, 401, MessagePage("암호가 필요합니다", "충돌 보고를 보려면 운영자 암호를 입력해 주십시오."));
      return true;
    }
    return false;
  }

  void Receive(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    std::string body;
    bool over = false;
    const bool whole = reader([&](const char* data, std::size_t n) {
      if (body.size() + n > kMaxBodyBytes) {
        over = true;
        return false;
      }
      body.append(data, n);
      return true;
    });
    std::string remote = req.remote_addr;
    if (o_.trustProxy && req.has_header("X-Real-IP")) remote = req.get_header_value("X-Real-IP");
    Reception r;
    if (over) r = {413, "the body is larger than any crash report"};
    else if (!whole) r = {400, "the body ended before its length"};
    else r = ReceiveReport(body, remote, NowMs(), *committer_);
    if (r.status != 200) Log(std::to_string(r.status) + " from " + remote + ": " + r.text);
    if (r.status == 503) res.set_header("Retry-After", "60");
    Plain(res, r.status, r.status == 200 ? "OK" : r.text);
  }

  std::shared_ptr<ReportStore> Store(httplib::Response& res) {
    std::string error;
    auto store = pool_.Acquire(&error);
    if (!store) StoreFailed(res, error);
    return store;
  }

  void StoreFailed(httplib::Response& res, const std::string& error) {
    Log("store: " + error);
    Html(res, 503, MessagePage("저장소에 연결할 수 없습니다", "잠시 후 다시 시도해 주십시오."));
  }

  void NotFound(httplib::Response& res) {
    Html(res, 404, MessagePage("찾을 수 없습니다", "이 주소에는 서명이나 보고가 없습니다."));
  }

  void List(const httplib::Request& req, httplib::Response& res) {
    auto store = Store(res);
    if (!store) return;
    const int offset = Offset(req);
    std::vector<SignatureSummary> rows;
    std::int64_t total = 0;
    std::string error;
    if (!store->Signatures(kPageRows + 1, offset, &rows, &error) || !store->CountReports(&total, &error))
      return StoreFailed(res, error);
    const bool more = rows.size() > static_cast<std::size_t>(kPageRows);
    if (more) rows.pop_back();
    Html(res, 200, SignatureListPage(rows, total, offset, more));
  }

  void ShowSignature(const httplib::Request& req, httplib::Response& res) {
    auto store = Store(res);
    if (!store) return;
    SignatureSummary s;
    bool found = false;
    std::vector<StoredReport> reports;
    std::string error;
    const int offset = Offset(req);
    if (!store->Signature(IdOf(req.matches[1]), &s, &found, &error) ||
        (found && !store->SignatureReports(s.id, kPageRows + 1, offset, &reports, &error)))
      return StoreFailed(res, error);
    if (!found) return NotFound(res);
    const bool more = reports.size() > static_cast<std::size_t>(kPageRows);
    if (more) reports.pop_back();
    Html(res, 200, SignaturePage(s, reports, offset, more));
  }

  void ShowReport(const httplib::Request& req, httplib::Response& res, bool rawLog) {
    auto store = Store(res);
    if (!store) return;
    StoredReport r;
    bool found = false;
    std::string error;
    if (!store->Report(IdOf(req.matches[1]), &r, &found, &error)) return StoreFailed(res, error);
    if (!found) return NotFound(res);
    if (!rawLog) return Html(res, 200, ReportPage(r));
    // The file as it lay in the player's Log folder, bytes unchanged.
    res.set_header("Content-Disposition", "attachment; filename=\"report-" + std::to_string(r.id) + "_exception.log\"");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(RestoreLog(r.form.conts), "application/octet-stream");
  }

  void ExportSignature(const httplib::Request& req, httplib::Response& res) {
    auto store = Store(res);
    if (!store) return;
    SignatureSummary s;
    bool found = false;
    std::string error;
    if (!store->Signature(IdOf(req.matches[1]), &s, &found, &error)) return StoreFailed(res, error);
    if (!found) return NotFound(res);
    const ExportFormat format = req.matches[2] == "csv" ? ExportFormat::kCsv : ExportFormat::kJson;
    res.set_header("Content-Disposition", "attachment; filename=\"signature-" + std::to_string(s.id) + "." +
                                              std::string(req.matches[2]) + "\"");
    auto exporter = std::make_shared<Export>(*store, s, format);
    // The store connection stays with the export until its last piece.
    res.set_chunked_content_provider(
        Export::ContentType(format), [store, exporter](std::size_t, httplib::DataSink& sink) {
          std::string piece, error;
          bool end = false;
          if (!exporter->Next(&piece, &end, &error)) {
            Log("export: " + error);
            return false;
          }
          if (!piece.empty() && !sink.write(piece.data(), piece.size())) return false;
          if (end) sink.done();
          return true;
        });
  }

  const ServeOptions o_;
  std::unique_ptr<Committer> committer_;
  StorePool pool_;
};

bool WriteReady(const std::string& file, const std::string& host, int port) {
  std::ofstream out(file + ".tmp");
  out << host << " " << port << "\n";
  out.close();
  return out && std::rename((file + ".tmp").c_str(), file.c_str()) == 0;
}

// Signals are taken by one thread of their own; every other thread (the
// server's pool, the writer) is started with them blocked.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// Binds the server to the options' address; the port it listens on, or
// -1 (after a message).
int Listen(httplib::Server& svr, const ServeOptions& o) {
  svr.set_tcp_nodelay(true);
  svr.set_read_timeout(30, 0);
  svr.set_write_timeout(30, 0);
  svr.set_keep_alive_max_count(100);
  svr.set_payload_max_length(kMaxBodyBytes);
  int listener = -1;
  svr.set_socket_options([&listener](int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    listener = fd;
  });
  int port = o.port;
  if (port == 0) port = svr.bind_to_any_port(o.host);
  else if (!svr.bind_to_port(o.host, port)) port = -1;
  if (port <= 0) {
    Log("cannot listen on " + o.host + ":" + std::to_string(o.port));
    return -1;
  }
  // The library's own queue of waiting connections is short; many updaters
  // connecting at once need a longer one.
  if (listener >= 0) ::listen(listener, 1024);
  return port;
}

}  // namespace

int Serve(const ServeOptions& o) {
  std::string error;
  int before = 0;
  auto store = OpenStore(o.store, true, &error, &before);
  if (!store) {
    Log(error);
    return 1;
  }
  if (before != kSchemaVersion)
    Log(StoreKind(o.store) + " store brought from schema " + std::to_string(before) + " to " +
        std::to_string(kSchemaVersion));

  const sigset_t signals = BlockStopSignals();
  auto service = std::make_unique<Service>(o, std::make_unique<Committer>(std::move(store), kMaxBatch, kMaxWaiting));
  httplib::Server svr;
  const int threads = o.threads;
  svr.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  service->Install(svr);
  const int port = Listen(svr, o);
  if (port <= 0) return 1;
  if (!o.readyFile.empty() && !WriteReady(o.readyFile, o.host, port)) {
    Log("cannot write " + o.readyFile);
    return 1;
  }
  Log("receiving crash reports on http://" + o.host + ":" + std::to_string(port) + o.path + " into " +
      StoreKind(o.store) + (o.password.empty() ? "; no pages (no password given)" : "; pages at /"));

  std::thread waiter([&svr, signals] {
    int sig = 0;
    while (sigwait(&signals, &sig) == 0 && sig == SIGPIPE) {
    }
    svr.stop();
  });
  const bool ok = svr.listen_after_bind();
  if (!ok && svr.is_running()) Log("the server ended");
  // A stop that came from the server itself still ends the waiter.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  service.reset();  // stores what waits
  Log("stopped");
  return 0;
}

}  // namespace ulr
