// The service's HTTP server: cpp-httplib reads the requests and writes the
// answers, on connections that this class keeps, so that
//  - a request must arrive whole within its time: a sender that trickles
//    its bytes is cut off rather than holding a thread for minutes;
//  - while nearly every thread is taken, a request's head has a second
//    and its body must come at 256 KiB/s, and idle connections are let
//    go: senders from many addresses cannot hold every thread either;
//  - one address holds at most a few connections at once;
//  - every refusal (an answer from 400 on) ends its connection, so that
//    the bytes of a body left unread are never read as further requests.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace ulr {

struct ConnectionLimits {
  int threads = 64;         // connections served at once
  int perAddress = 8;       // connections at once from one address; 0: any number
  int requestSeconds = 20;  // for a request's head, and for a body beyond its own time
};

// The slowest a body may arrive: a body of n bytes has n / this seconds
// beyond requestSeconds (the largest post, 6 MB, some 6.5 minutes).
constexpr std::size_t kSlowestBodyBytesPerSecond = 16384;
// The same while the server is crowded (no more than an eighth of its
// threads free): a second for the head, and a body at this rate.
constexpr int kCrowdedHeadSeconds = 1;
constexpr std::size_t kCrowdedBodyBytesPerSecond = 262144;

class HttpServer : public httplib::Server {
 public:
  explicit HttpServer(ConnectionLimits limits);

  // For the handlers, on the thread that serves the request: gives the
  // request's body of length bytes its time.
  static void AllowBody(std::size_t length);
  // Whether the request in hand ran out of time while it was read.
  static bool TimedOut();

 private:
  bool process_and_close_socket(socket_t sock) override;
  bool Admit(const std::string& address);
  void Leave(const std::string& address);
  void Refuse(int fd, const std::string& address);

  const ConnectionLimits limits_;
  std::atomic<int> busy_{0};  // connections being served
  std::mutex mutex_;
  std::unordered_map<std::string, int> open_;  // connections at once, by address
};

}  // namespace ulr
