// The test bed's configuration and report server: serves a published tree
// over HTTP/1.1, logs every request as one JSON line, takes form posts on
// any path, and answers with armed faults where a test asks for them.
#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "../common/jsonl.h"
#include "byte_ranges.h"
#include "faults.h"

namespace {

const char kUsage[] =
    "usage: testbed_server --root DIR --log FILE [options]\n"
    "\n"
    "Serves the files under DIR over HTTP/1.1 and logs every request to FILE,\n"
    "one JSON object per line (seq, time_ms, method, target, path, version,\n"
    "remote, remote_port, headers, body, body_len, status, fault); when the\n"
    "answer of a file ends, one more line: answered (the request's seq), sent\n"
    "(the body bytes the connection took), complete (1 or 0). POST goes to any\n"
    "path and is answered 200. Bytes of 0x80 or more in target and body are\n"
    "written as \\u0080..\\u00ff.\n"
    "\n"
    "A Range header of one range (bytes=A-B, A-, -N) is answered 206 with its\n"
    "Content-Range, 416 when it starts beyond the end; several ranges in one\n"
    "request are passed over (200, the whole file). Connections are kept open.\n"
    "\n"
    "options:\n"
    "  --bind ADDR        address to listen on (default 127.0.0.1)\n"
    "  --port N           port (default 80; 0 picks a free one)\n"
    "  --faults FILE      fault lines read at start: PATH KIND [NAME=VALUE]...\n"
    "  --ready-file FILE  written with \"ADDR PORT\" once the server listens\n"
    "  --rate-mbit N      the files' bytes leave at N Mbit/s at most, all\n"
    "                     connections together (one line shared by every request)\n"
    "  --help             this text\n"
    "\n"
    "faults (per request path, compared after decoding, '\\' taken as '/',\n"
    "'.' segments dropped; those that shape a body shape a range's too):\n"
    "  status  status=N      answer N with a short body (404, 401, 407, 500...)\n"
    "  nolength              the file without Content-Length; the end of the\n"
    "                        body is the closing of the connection\n"
    "  chunked               the file in chunked coding, no Content-Length\n"
    "  empty                 200 with Content-Length: 0\n"
    "  cut     bytes=N       Content-Length of the whole file (or range), N\n"
    "                        bytes, then the connection is dropped\n"
    "  trickle bytes=N interval_ms=M   the file, N bytes every M ms\n"
    "  delay   delay_ms=N    wait N ms, then answer normally\n"
    "  body    body=TEXT     200 with TEXT in place of the file\n"
    "  length  length=DIGITS the file with this Content-Length, whatever its\n"
    "                        size; the end of the body is the closing of the\n"
    "                        connection\n"
    "  noranges              a Range header is passed over: 200, the whole file\n"
    "  wrongrange shift=N    206 with the bytes asked for, but a Content-Range\n"
    "                        N bytes off (default 1)\n"
    "  wrongbytes at=N       the body's byte at N flipped (default 0)\n"
    "  every fault takes count=N: it disarms itself after N answers\n"
    "\n"
    "control (never logged):\n"
    "  GET /__control/fault?path=P&kind=K[&NAME=VALUE...]   arm a fault\n"
    "  GET /__control/clear[?path=P]                        disarm one or all\n"
    "  GET /__control/faults                                list armed faults\n"
    "  GET /__control/mark?text=T          write {\"mark\":T} into the log\n"
    "  GET /__control/ping                                  answers ok\n";

struct Options {
  std::string root, log, bind = "127.0.0.1", faults, readyFile;
  int port = 80;
  double rateMbit = 0;  // 0: as fast as the connections take them
};

// One line that every connection's bodies share: a piece leaves when the
// line has finished sending the pieces before it, so that all answers
// together never go faster than the rate, however many run at once.
class Line {
 public:
  explicit Line(double mbit) : bytesPerSecond_(mbit * 1e6 / 8) {}

  // Waits for the moment bytes more may go out.
  void Take(uint64_t bytes) {
    if (bytesPerSecond_ <= 0) return;
    using Clock = std::chrono::steady_clock;
    const auto duration = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond_));
    Clock::time_point start;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto now = Clock::now();
      // An idle line does not save up time for a later burst.
      if (free_ < now) free_ = now;
      start = free_;
      free_ += duration;
    }
    std::this_thread::sleep_until(start);
  }

 private:
  const double bytesPerSecond_;
  std::mutex mutex_;
  std::chrono::steady_clock::time_point free_;
};

class RequestLog {
 public:
  bool Open(const std::string& path) {
    out_.open(path, std::ios::app | std::ios::binary);
    return out_.good();
  }
  // Writes the record after its sequence number, which it returns: the
  // numbers rise line by line, whichever thread writes.
  long long Write(const tb::JsonRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long seq = ++seq_;
    const std::string rest = record.Line();
    out_ << "{\"seq\":" << seq << (rest.size() > 2 ? "," : "") << rest.substr(1) << "\n";
    out_.flush();
    return seq;
  }

 private:
  std::mutex mutex_;
  std::ofstream out_;
  long long seq_ = 0;
};

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The size of the regular file at path.
bool FileSize(const std::string& path, uint64_t* size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

// The bytes one answer carries: count bytes of a file from `from` on, read
// piece by piece as they leave, so that no file sits whole in memory and
// a range of a big file costs only its own bytes. It counts what the
// connection took.
class FileBody {
 public:
  FileBody(const std::string& path, uint64_t from, uint64_t count, long flipAt, Line& line)
      : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)), from_(from), count_(count), flipAt_(flipAt), line_(line) {}
  ~FileBody() {
    if (fd_ >= 0) close(fd_);
  }
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;

  uint64_t count() const { return count_; }
  uint64_t sent() const { return sent_; }

  // Writes the next piece of at most `most` bytes, from `offset` of the
  // answer's body on. False at the end or when the file or the connection
  // fails.
  bool Send(uint64_t offset, uint64_t most, httplib::DataSink& sink) {
    const uint64_t n = std::min<uint64_t>({most, sizeof buffer_, offset < count_ ? count_ - offset : 0});
    if (n == 0 || fd_ < 0 ||
        pread(fd_, buffer_, n, static_cast<off_t>(from_ + offset)) != static_cast<ssize_t>(n))
      return false;
    if (flipAt_ >= 0 && static_cast<uint64_t>(flipAt_) >= offset && static_cast<uint64_t>(flipAt_) < offset + n)
      buffer_[flipAt_ - offset] ^= 0xff;
    line_.Take(n);
    if (!sink.write(buffer_, n)) return false;
    sent_ += n;
    return true;
  }

 private:
  int fd_;
  uint64_t from_, count_;
  long flipAt_;
  Line& line_;
  uint64_t sent_ = 0;
  char buffer_[65536];
};

const char* MimeType(const std::string& path) {
  auto dot = path.rfind('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  if (ext == "html" || ext == "htm") return "text/html";
  if (ext == "cfg" || ext == "dat" || ext == "txt" || ext == "log") return "text/plain";
  if (ext == "zip") return "application/zip";
  return "application/octet-stream";
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class TestServer {
 public:
  explicit TestServer(const Options& o) : opt_(o), line_(o.rateMbit) {}

  int Run() {
    if (!log_.Open(opt_.log)) {
      std::fprintf(stderr, "testbed_server: cannot open log file %s\n", opt_.log.c_str());
      return 1;
    }
    if (!opt_.faults.empty() && !LoadFaultFile(opt_.faults)) return 1;

    svr_.Get("/__control/(.*)", [this](const httplib::Request& req, httplib::Response& res) {
      Control(req, res);
    });
    auto serve = [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); };
    svr_.Get(".*", serve);
    // Posts are read through a content reader: the plain handler's reading
    // refuses form posts above 8 KB with 413 before anything is logged, and
    // a crash report carries a log of up to 1 MB, three bytes per byte.
    svr_.Post(".*", [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
      httplib::Request whole = req;
      reader([&whole](const char* data, size_t length) {
        whole.body.append(data, length);
        return true;
      });
      Serve(whole, res);
    });
    svr_.Put(".*", serve);
    svr_.Delete(".*", serve);
    svr_.Options(".*", serve);
    // A transfer by chunks asks for many ranges over one connection.
    svr_.set_keep_alive_max_count(10000);
    // Headers and body leave in separate writes; with Nagle's algorithm the
    // body would wait for the client's delayed acknowledgement, some 40 ms
    // on every answer.
    svr_.set_tcp_nodelay(true);

    int port = opt_.port;
    if (port == 0) {
      port = svr_.bind_to_any_port(opt_.bind);
      if (port < 0) port = 0;
    } else if (!svr_.bind_to_port(opt_.bind, port)) {
      port = 0;
    }
    if (port == 0) {
      std::fprintf(stderr, "testbed_server: cannot listen on %s:%d (%s)\n", opt_.bind.c_str(),
                   opt_.port, std::strerror(errno));
      return 1;
    }
    if (!opt_.readyFile.empty()) {
      std::string tmp = opt_.readyFile + ".tmp";
      std::ofstream r(tmp);
      r << opt_.bind << " " << port << "\n";
      r.close();
      std::rename(tmp.c_str(), opt_.readyFile.c_str());
    }
    std::fprintf(stderr, "testbed_server: serving %s on %s:%d, log %s\n", opt_.root.c_str(),
                 opt_.bind.c_str(), port, opt_.log.c_str());
    svr_.listen_after_bind();
    return 0;
  }

  void Stop() { svr_.stop(); }

 private:
  bool LoadFaultFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
      std::fprintf(stderr, "testbed_server: cannot read fault file %s\n", path.c_str());
      return false;
    }
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
      ++n;
      auto first = line.find_first_not_of(" \t\r");
      if (first == std::string::npos || line[first] == '#') continue;
      std::string p, error;
      tb::Fault f;
      if (!tb::ParseFaultLine(line, &p, &f, &error)) {
        std::fprintf(stderr, "testbed_server: %s:%d: %s\n", path.c_str(), n, error.c_str());
        return false;
      }
      faults_.Arm(p, f);
    }
    return true;
  }

  void Control(const httplib::Request& req, httplib::Response& res) {
    std::string what = req.matches[1];
    if (what == "ping") {
      res.set_content("ok\n", "text/plain");
    } else if (what == "faults") {
      res.set_content(faults_.Describe(), "text/plain");
    } else if (what == "clear") {
      if (req.has_param("path")) {
        std::string p;
        if (!tb::NormalizePath(req.get_param_value("path"), &p)) return Bad(res, "bad path");
        faults_.Clear(p);
      } else {
        faults_.ClearAll();
      }
      res.set_content("cleared\n", "text/plain");
    } else if (what == "fault") {
      std::map<std::string, std::string> params;
      for (const auto& p : req.params) params[p.first] = p.second;
      std::string p, error;
      tb::Fault f;
      if (!req.has_param("path") || !req.has_param("kind")) return Bad(res, "need path and kind");
      if (!tb::NormalizePath(req.get_param_value("path"), &p)) return Bad(res, "bad path");
      if (!tb::ParseFault(req.get_param_value("kind"), params, &f, &error)) return Bad(res, error);
      faults_.Arm(p, f);
      res.set_content("armed " + p + " " + tb::FaultKindName(f.kind) + "\n", "text/plain");
    } else if (what == "mark") {
      log_.Write(tb::JsonRecord().Add("time_ms", NowMs())
                     .Add("mark", req.get_param_value("text")));
      res.set_content("marked\n", "text/plain");
    } else {
      res.status = 404;
      res.set_content("unknown control request\n", "text/plain");
    }
  }

  static void Bad(httplib::Response& res, const std::string& why) {
    res.status = 400;
    res.set_content(why + "\n", "text/plain");
  }

  void Serve(const httplib::Request& req, httplib::Response& res) {
    // The library would cut any body to a Range header itself, whatever the
    // status; this server answers ranges on its own terms, faults included.
    const std::string rangeHeader = req.get_header_value("Range");
    const_cast<httplib::Request&>(req).ranges.clear();

    std::string path;
    bool pathOk = tb::NormalizePath(req.target, &path);
    tb::Fault fault;
    bool faulty = pathOk && faults_.Take(path, &fault);
    auto is = [&](tb::FaultKind k) { return faulty && fault.kind == k; };

    uint64_t size = 0;
    bool isUpload = req.method == "POST" || req.method == "PUT";
    bool found = false;
    if (!isUpload && pathOk) found = FileSize(opt_.root + path, &size);

    int status = isUpload ? 200 : (!pathOk ? 400 : (found ? 200 : 404));
    if (is(tb::FaultKind::kStatus)) status = fault.status;
    if (is(tb::FaultKind::kEmpty) || is(tb::FaultKind::kBody)) status = 200;

    // The part of the file that answers: all of it, or the one range asked
    // for.
    uint64_t from = 0, count = size;
    tb::RangeAsk ask = tb::RangeAsk::kWhole;
    if (status == 200 && found && !isUpload && !is(tb::FaultKind::kEmpty) && !is(tb::FaultKind::kBody) &&
        !is(tb::FaultKind::kNoRanges))
      ask = tb::ParseByteRange(rangeHeader, size, &from, &count);
    if (ask == tb::RangeAsk::kOne) status = 206;
    if (ask == tb::RangeAsk::kUnsatisfiable) status = 416;

    std::string headers;
    for (const auto& h : req.headers) {
      // The library files the connection's addresses among the headers.
      if (h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" || h.first == "LOCAL_ADDR" ||
          h.first == "LOCAL_PORT")
        continue;
      headers += h.first + ": " + h.second + "\r\n";
    }
    tb::JsonRecord rec;
    rec.Add("time_ms", NowMs()).Add("method", req.method)
        .AddBytes("target", req.target).AddBytes("path", pathOk ? path : "")
        .Add("version", req.version).Add("remote", req.remote_addr)
        .Add("remote_port", static_cast<long long>(req.remote_port)).AddBytes("headers", headers).AddBytes("body", req.body)
        .Add("body_len", static_cast<long long>(req.body.size())).Add("status", status)
        .Add("fault", faulty ? tb::FaultKindName(fault.kind) : "");
    const long long seq = log_.Write(rec);

    if (is(tb::FaultKind::kDelay)) SleepMs(fault.delayMs);
    res.status = status;
    if (is(tb::FaultKind::kStatus)) {
      res.set_content("fault " + std::to_string(status) + "\n", "text/plain");
      return;
    }
    if (is(tb::FaultKind::kEmpty)) {
      res.set_content("", "application/octet-stream");
      return;
    }
    if (is(tb::FaultKind::kBody)) {
      res.set_content(fault.body, "application/octet-stream");
      return;
    }
    if (isUpload) {
      res.set_content("ok\n", "text/plain");
      return;
    }
    if (!found) {
      res.set_content(status == 400 ? "bad path\n" : "not found\n", "text/plain");
      return;
    }
    if (ask == tb::RangeAsk::kUnsatisfiable) {
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      res.set_content("", "text/plain");
      return;
    }
    if (ask == tb::RangeAsk::kOne) {
      const long long shown = static_cast<long long>(from) + (is(tb::FaultKind::kWrongRange) ? fault.shift : 0);
      res.set_header("Content-Range", tb::ContentRange(shown < 0 ? 0 : shown, count, size));
    }
    ServeBody(res, path, from, count, faulty ? fault : tb::Fault(), seq);
  }

  // The file's bytes [from, from + count) shaped by the fault, and a log
  // record of how many the connection took when the answer ends.
  void ServeBody(httplib::Response& res, const std::string& path, uint64_t from, uint64_t count,
                 const tb::Fault& fault, long long seq) {
    auto body = std::make_shared<FileBody>(opt_.root + path, from, count,
                                           fault.kind == tb::FaultKind::kWrongBytes ? fault.at : -1, line_);
    const char* type = MimeType(path);
    auto done = [this, body, seq](bool complete) {
      log_.Write(tb::JsonRecord().Add("time_ms", NowMs()).Add("answered", seq)
                     .Add("sent", static_cast<long long>(body->sent())).Add("complete", complete ? 1 : 0));
    };
    if (count == 0 && fault.kind != tb::FaultKind::kNoLength && fault.kind != tb::FaultKind::kLength &&
        fault.kind != tb::FaultKind::kChunked) {
      res.set_content("", type);  // a provider must have something to give
      done(true);
      return;
    }
    // The end of the body is the closing of the connection: the library
    // would otherwise keep it open until its keep-alive time runs out.
    auto untilClosed = [body](size_t offset, httplib::DataSink& sink) {
      return body->Send(offset, body->count(), sink);
    };
    switch (fault.kind) {
      case tb::FaultKind::kNoLength:
        res.set_header("Connection", "close");
        res.set_content_provider(type, untilClosed, done);
        break;
      case tb::FaultKind::kLength:
        res.set_header("Content-Length", fault.length);
        res.set_header("Connection", "close");
        res.set_content_provider(type, untilClosed, done);
        break;
      case tb::FaultKind::kChunked:
        res.set_chunked_content_provider(
            type,
            [body](size_t offset, httplib::DataSink& sink) {
              if (offset >= body->count()) {
                sink.done();
                return true;
              }
              return body->Send(offset, 4096, sink);
            },
            done);
        break;
      case tb::FaultKind::kCut: {
        const uint64_t keep = std::min<uint64_t>(static_cast<uint64_t>(fault.bytes), count);
        res.set_content_provider(
            count, type,
            [body, keep](size_t offset, size_t length, httplib::DataSink& sink) {
              // Returning false drops the connection mid-body.
              return offset < keep && body->Send(offset, std::min<uint64_t>(length, keep - offset), sink);
            },
            done);
        break;
      }
      case tb::FaultKind::kTrickle: {
        const uint64_t step = static_cast<uint64_t>(fault.bytes);
        const int interval = fault.intervalMs;
        res.set_content_provider(
            count, type,
            [body, step, interval](size_t offset, size_t length, httplib::DataSink& sink) {
              if (offset > 0) SleepMs(interval);
              return body->Send(offset, std::min<uint64_t>(length, step), sink);
            },
            done);
        break;
      }
      default:
        res.set_content_provider(
            count, type,
            [body](size_t offset, size_t length, httplib::DataSink& sink) { return body->Send(offset, length, sink); },
            done);
    }
  }

  Options opt_;
  Line line_;
  httplib::Server svr_;
  RequestLog log_;
  tb::FaultTable faults_;
};

TestServer* g_server = nullptr;

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "testbed_server: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--root") {
      o.root = value("--root");
    } else if (a == "--log") {
      o.log = value("--log");
    } else if (a == "--bind") {
      o.bind = value("--bind");
    } else if (a == "--port") {
      char* end = nullptr;
      const char* v = value("--port");
      long p = std::strtol(v, &end, 10);
      if (*end != '\0' || p < 0 || p > 65535) {
        std::fprintf(stderr, "testbed_server: bad port '%s'\n", v);
        return 2;
      }
      o.port = static_cast<int>(p);
    } else if (a == "--faults") {
      o.faults = value("--faults");
    } else if (a == "--ready-file") {
      o.readyFile = value("--ready-file");
    } else if (a == "--rate-mbit") {
      char* end = nullptr;
      const char* v = value("--rate-mbit");
      o.rateMbit = std::strtod(v, &end);
      if (*end != '\0' || !(o.rateMbit > 0) || o.rateMbit > 1e6) {
        std::fprintf(stderr, "testbed_server: bad rate '%s'\n", v);
        return 2;
      }
    } else {
      std::fprintf(stderr, "testbed_server: unknown option '%s' (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (o.root.empty() || o.log.empty()) {
    std::fprintf(stderr, "testbed_server: --root and --log are required (see --help)\n");
    return 2;
  }
  while (o.root.size() > 1 && o.root.back() == '/') o.root.pop_back();
  struct stat st;
  if (stat(o.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "testbed_server: root %s is not a folder\n", o.root.c_str());
    return 1;
  }

  // SIGTERM and SIGINT stop the server cleanly from a waiting thread.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  TestServer server(o);
  g_server = &server;
  std::thread waiter([set]() mutable {
    int sig = 0;
    sigwait(&set, &sig);
    if (g_server) g_server->Stop();
  });
  waiter.detach();
  return server.Run();
}
