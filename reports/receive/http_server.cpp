#include "receive/http_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ulr {

namespace {

using Clock = std::chrono::steady_clock;

// One accepted socket, shut and closed with its owner.
class OwnedSocket {
 public:
  explicit OwnedSocket(int fd) : fd_(fd) {}
  ~OwnedSocket() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
  }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;

 private:
  const int fd_;
};

// "ADDR" and port of a socket address.
void AddressOf(const sockaddr_storage& a, socklen_t n, std::string* ip, int* port) {
  char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
  getnameinfo(reinterpret_cast<const sockaddr*>(&a), n, host, sizeof host, service, sizeof service,
              NI_NUMERICHOST | NI_NUMERICSERV);
  *ip = host;
  *port = std::atoi(service);
}

// Whether the server is crowded: so many connections served at once that
// slow ones must make room.
struct Crowding {
  const std::atomic<int>* busy;
  int threshold;
  bool Crowded() const { return *busy >= threshold; }
};

// A connection's bytes for cpp-httplib. Reads wait at most until the
// request's deadline (the shorter one while the server is crowded);
// writes at most the write time each.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int fd, std::chrono::seconds writeTime, Crowding crowding)
      : fd_(fd), writeTime_(writeTime), crowding_(crowding) {}

  void SetDeadline(Clock::time_point deadline, Clock::time_point crowded) {
    deadline_ = deadline;
    crowdedDeadline_ = crowded;
    timedOut_ = false;
  }
  bool TimedOut() const { return timedOut_; }

  // After a refusal that may have left a body unread: the answer is
  // followed by the end of the connection, and what the sender still sends
  // is read and dropped for a little while, so that its system does not
  // reset the connection and lose the answer before the sender reads it.
  void Linger() {
    ::shutdown(fd_, SHUT_WR);
    const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
    char scrap[16384];
    for (std::size_t dropped = 0; dropped < (8u << 20) && Wait(POLLIN, until) > 0;) {
      const ssize_t n = ::recv(fd_, scrap, sizeof scrap, 0);
      if (n <= 0) break;
      dropped += static_cast<std::size_t>(n);
    }
  }

  // Waits for a further request's first byte (or the end of the
  // connection) until limit, while the server runs and is not crowded (an
  // idle connection then makes room).
  bool WaitForRequest(Clock::time_point limit, const std::atomic<socket_t>& listener) const {
    if (bufferAt_ < bufferEnd_) return true;
    while (listener != INVALID_SOCKET && !crowding_.Crowded() && Clock::now() < limit) {
      const int ready = Wait(POLLIN, std::min(limit, Clock::now() + kLook));
      if (ready != 0) return ready > 0;
    }
    return false;
  }

  bool is_readable() const override {
    if (bufferAt_ < bufferEnd_) return true;
    for (;;) {
      const Clock::time_point deadline = Deadline();
      if (Clock::now() >= deadline) {
        timedOut_ = true;
        return false;
      }
      const int ready = Wait(POLLIN, std::min(deadline, Clock::now() + kLook));
      if (ready != 0) return ready > 0;
    }
  }
  bool is_writable() const override { return Wait(POLLOUT, Clock::now() + writeTime_) > 0; }

  ssize_t read(char* ptr, size_t size) override {
    if (bufferAt_ == bufferEnd_ && size < sizeof buffer_) {
      const ssize_t n = Receive(buffer_, sizeof buffer_);
      if (n <= 0) return n;
      bufferAt_ = 0;
      bufferEnd_ = static_cast<std::size_t>(n);
    }
    if (bufferAt_ < bufferEnd_) {
      const std::size_t n = std::min(size, bufferEnd_ - bufferAt_);
      std::memcpy(ptr, buffer_ + bufferAt_, n);
      bufferAt_ += n;
      return static_cast<ssize_t>(n);
    }
    return Receive(ptr, size);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    while ((n = ::send(fd_, ptr, size, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) AddressOf(a, n, &ip, &port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) AddressOf(a, n, &ip, &port);
  }
  socket_t socket() const override { return fd_; }

 private:
  // How often a wait looks at whether the server became crowded.
  static constexpr std::chrono::milliseconds kLook{200};

  Clock::time_point Deadline() const {
    return crowding_.Crowded() ? std::min(deadline_, crowdedDeadline_) : deadline_;
  }

  // 1 when the socket is ready for events before until, 0 when it is not,
  // -1 when it failed.
  int Wait(short events, Clock::time_point until) const {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return 0;
      pollfd p{fd_, events, 0};
      const int rc = ::poll(&p, 1, static_cast<int>(left));
      if (rc > 0) return 1;
      if (rc < 0 && errno != EINTR) return -1;
    }
  }

  ssize_t Receive(char* ptr, std::size_t size) {
    if (!is_readable()) return -1;
    ssize_t n;
    while ((n = ::recv(fd_, ptr, size, 0)) < 0 && errno == EINTR) {
    }
    return n;
  }

  const int fd_;
  const std::chrono::seconds writeTime_;
  const Crowding crowding_;
  Clock::time_point deadline_ = Clock::time_point::max(), crowdedDeadline_ = Clock::time_point::max();
  mutable bool timedOut_ = false;
  char buffer_[4096];
  std::size_t bufferAt_ = 0, bufferEnd_ = 0;
};

// The connection that the calling thread serves, for the handlers.
struct Connection {
  DeadlineStream* stream = nullptr;
  Clock::time_point requestStart;
  std::chrono::seconds requestTime{0};
  bool closeAfterAnswer = false;
};
thread_local Connection* tConnection = nullptr;

}  // namespace

HttpServer::HttpServer(ConnectionLimits limits) : limits_(limits) {
  const std::size_t threads = static_cast<std::size_t>(limits.threads);
  new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    if (tConnection == nullptr || res.status < 400) return;
    tConnection->closeAfterAnswer = true;
    res.headers.erase("Keep-Alive");
    if (res.get_header_value("Connection") != "close") res.set_header("Connection", "close");
  });
}

void HttpServer::AllowBody(std::size_t length) {
  if (tConnection == nullptr) return;
  const Clock::time_point start = tConnection->requestStart;
  tConnection->stream->SetDeadline(
      start + tConnection->requestTime + std::chrono::seconds(length / kSlowestBodyBytesPerSecond),
      start + std::chrono::seconds(kCrowdedHeadSeconds + length / kCrowdedBodyBytesPerSecond));
}

bool HttpServer::TimedOut() { return tConnection != nullptr && tConnection->stream->TimedOut(); }

bool HttpServer::Admit(const std::string& address) {
  if (limits_.perAddress == 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  int& open = open_[address];
  if (open >= limits_.perAddress) return false;
  ++open;
  return true;
}

void HttpServer::Leave(const std::string& address) {
  if (limits_.perAddress == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto at = open_.find(address);
  if (at != open_.end() && --at->second <= 0) open_.erase(at);
}

// Answered without reading the request: the updater keeps its log for a
// 5xx answer and posts it again at its next start.
void HttpServer::Refuse(int fd, const std::string& address) {
  static const char kAnswer[] =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nRetry-After: 10\r\n"
      "Connection: close\r\nContent-Length: 39\r\n\r\ntoo many connections from this address\n";
  ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  std::fprintf(stderr, "ulmet-reports: 503 to %s: more than %d connections at once\n", address.c_str(),
               limits_.perAddress);
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  const OwnedSocket owned(sock);
  const auto accepted = Clock::now();
  const Crowding crowding{&busy_, limits_.threads - std::max(1, limits_.threads / 8)};
  DeadlineStream stream(sock, std::chrono::seconds(write_timeout_sec_), crowding);
  std::string address;
  int port = 0;
  stream.get_remote_ip_and_port(address, port);
  if (!Admit(address)) {
    Refuse(sock, address);
    return false;
  }
  Connection connection;
  connection.stream = &stream;
  connection.requestTime = std::chrono::seconds(limits_.requestSeconds);
  // Whatever ends the serving, the counts and the handlers' view.
  struct Served {
    HttpServer* server;
    const std::string& address;
    ~Served() {
      tConnection = nullptr;
      --server->busy_;
      server->Leave(address);
    }
  } served{this, address};
  ++busy_;
  tConnection = &connection;
  bool ok = false;
  // The first request's time runs from the connection's start; a further
  // one's from its first byte, which may be a keep-alive time coming.
  for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
    const bool first = left == keep_alive_max_count_;
    if (!first && !stream.WaitForRequest(Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_), svr_sock_))
      break;
    connection.requestStart = first ? accepted : Clock::now();
    stream.SetDeadline(connection.requestStart + connection.requestTime,
                       connection.requestStart + std::chrono::seconds(kCrowdedHeadSeconds));
    bool closed = false;
    ok = process_request(stream, left == 1, closed, nullptr);
    if (connection.closeAfterAnswer && !crowding.Crowded()) stream.Linger();
    if (!ok || closed || connection.closeAfterAnswer) break;
  }
  return ok;
}

}  // namespace ulr
