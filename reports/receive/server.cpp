#include "receive/server.h"

#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "pages/routes.h"
#include "receive/answers.h"
#include "receive/http_server.h"
#include "receive/limits.h"
#include "receive/receiver.h"
#include "receive/report_form.h"
#include "store/committer.h"
#include "store/disk.h"
#include "store/retention.h"
#include "store/store.h"
#include "symbols/resolve.h"

namespace ulr {

namespace {

// Reports that may wait for one transaction, and for the store at all.
constexpr std::size_t kMaxBatch = 256;
constexpr std::size_t kMaxWaiting = 4096;

// A regular expression that matches exactly text.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// A Content-Length that is a number of at most max; *length its value.
bool LengthWithin(const std::string& value, std::size_t max, std::size_t* length) {
  if (value.empty() || value.size() > 12) return false;
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  *length = n;
  return n <= max;
}

class Service {
 public:
  Service(const ServeOptions& o, AddressRanges pagesFrom, std::unique_ptr<Committer> committer)
      : o_(o),
        committer_(std::move(committer)),
        pages_(o.store, o.password, std::move(pagesFrom), o.trustProxy),
        posts_(o.postsPerMinute, o.postBurst),
        disk_(o.freeSpacePath.empty() ? StoreFolder(o.store) : o.freeSpacePath) {}

  // The folder whose disk the floor watches; empty: none.
  const std::string& disk() const { return disk_; }

  void Install(httplib::Server& svr) {
    svr.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      const bool answered = req.path == o_.path ? ScreenPost(req, res) : pages_.Screen(req, res);
      return answered ? httplib::Server::HandlerResponse::Handled : httplib::Server::HandlerResponse::Unhandled;
    });
    svr.Post(Literal(o_.path), [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) { Receive(req, res, reader); });
    pages_.Install(svr);
    svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (HttpServer::TimedOut() && res.status != 503) {
        Log("503: a request did not arrive within its time");
        res.set_header("Retry-After", "60");
        Plain(res, 503, "the request did not arrive within its time");
      } else if (res.body.empty()) {
        const char* text = res.status == 404 ? "not found" : res.status == 413 ? "the body is too large" : "refused";
        Plain(res, res.status, text);
      }
    });
  }

 private:
  // What is answered to a post before its body is read: only form posts
  // of a bounded length, at the sender's rate, while the disk has room.
  // A flood is the sender's own (429: the updater deletes its log); a full
  // disk is not (503: the updater keeps it for its next start).
  bool ScreenPost(const httplib::Request& req, httplib::Response& res) {
    const std::string type = Lower(req.get_header_value("Content-Type"));
    const std::string encoding = Lower(req.get_header_value("Content-Encoding"));
    const std::string sender = Sender(req, o_.trustProxy);
    std::size_t length = 0;
    if (req.method != "POST") {
      res.set_header("Allow", "POST");
      Plain(res, 405, "only POST is taken here");
    } else if (!req.has_header("Content-Length")) {
      Plain(res, 411, "a post needs Content-Length");
    } else if (!LengthWithin(req.get_header_value("Content-Length"), kMaxBodyBytes, &length)) {
      Plain(res, 413, "the body is larger than any crash report");
    } else if (type.substr(0, type.find(';')) != "application/x-www-form-urlencoded") {
      Plain(res, 415, "the body must be application/x-www-form-urlencoded");
    } else if (!encoding.empty() && encoding != "identity") {
      Plain(res, 415, "the body must not be compressed");
    } else if (!posts_.Take(SenderKey(sender), NowMs())) {
      res.set_header("Retry-After", "60");
      Plain(res, 429, "more posts from this address than " + std::to_string(o_.postsPerMinute) + " a minute");
    } else if (!DiskHasRoom(length)) {
      res.set_header("Retry-After", "600");
      Plain(res, 503, "the store's disk has less than " + std::to_string(o_.minFreeMb) + " MB free");
    } else {
      HttpServer::AllowBody(length);
      return false;
    }
    Log(std::to_string(res.status) + " from " + sender + ": " + req.method + " " + req.path + ": " + res.body);
    return true;
  }

  bool DiskHasRoom(std::size_t length) const {
    std::uint64_t free = 0;
    if (o_.minFreeMb == 0 || !FreeBytes(disk_, &free)) return true;
    return free >= static_cast<std::uint64_t>(o_.minFreeMb) * 1048576 + length;
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
    const std::string remote = Sender(req, o_.trustProxy);
    Reception r;
    if (over) r = {413, "the body is larger than any crash report"};
    else if (!whole && HttpServer::TimedOut()) r = {503, "the request did not arrive within its time"};
    else if (!whole) r = {400, "the body ended before its length"};
    else r = ReceiveReport(body, remote, NowMs(), *committer_);
    if (r.status != 200) Log(std::to_string(r.status) + " from " + remote + ": " + r.text);
    if (r.status == 503) res.set_header("Retry-After", "60");
    Plain(res, r.status, r.status == 200 ? "OK" : r.text);
  }

  const ServeOptions o_;
  std::unique_ptr<Committer> committer_;
  PageRoutes pages_;
  SenderBuckets posts_;
  const std::string disk_;
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

// What the receiver takes from one sender, and the floor it keeps.
void LogLimits(const ServeOptions& o, const std::string& disk) {
  std::string limits = "a request has " + std::to_string(o.requestSeconds) + " s";
  if (!o.trustProxy && o.connectionsPerAddress > 0)
    limits += ", " + std::to_string(o.connectionsPerAddress) + " connections at once from one address";
  if (o.postsPerMinute > 0)
    limits += ", " + std::to_string(o.postsPerMinute) + " posts a minute from one sender (" +
              std::to_string(o.postBurst) + " at once)";
  if (o.minFreeMb > 0)
    limits += disk.empty() ? "; no free-space floor (a PostgreSQL store needs --free-space-path)"
                           : "; posts refused below " + std::to_string(o.minFreeMb) + " MB free in " + disk;
  if (o.keepDays > 0) limits += "; reports kept " + std::to_string(o.keepDays) + " days";
  Log(limits);
}

}  // namespace

int Serve(const ServeOptions& o) {
  AddressRanges pagesFrom;
  if (!pagesFrom.Parse(o.pagesFrom)) {
    Log("not addresses: " + o.pagesFrom);
    return 2;
  }
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
  auto service = std::make_unique<Service>(o, std::move(pagesFrom),
                                           std::make_unique<Committer>(std::move(store), kMaxBatch, kMaxWaiting));
  // Behind a proxy every connection is the proxy's: it counts them itself.
  HttpServer svr(ConnectionLimits{o.threads, o.trustProxy ? 0 : o.connectionsPerAddress, o.requestSeconds});
  service->Install(svr);
  const int port = Listen(svr, o);
  if (port <= 0) return 1;
  if (!o.readyFile.empty() && !WriteReady(o.readyFile, o.host, port)) {
    Log("cannot write " + o.readyFile);
    return 1;
  }
  Log("receiving crash reports on http://" + o.host + ":" + std::to_string(port) + o.path + " into " +
      StoreKind(o.store) + (o.password.empty() ? "; no pages (no password given)" : "; pages at /"));
  LogLimits(o, service->disk());
  const auto retention = o.keepDays > 0 ? std::make_unique<Retention>(o.store, o.keepDays) : nullptr;
  // Reports of versions with symbols are resolved a few seconds after they arrive.
  const auto resolver = std::make_unique<Resolver>(o.store);

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
