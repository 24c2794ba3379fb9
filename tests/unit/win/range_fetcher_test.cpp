// Byte ranges from the test bed's HTTP server on loopback port 80, with its
// faults (server_support.h).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "formats/trust/release_manifest.h"
#include "file_support.h"
#include "net/range_fetcher_win.h"
#include "server_support.h"

namespace {

using serversupport::Control;
using serversupport::Env;

// Keeps what arrives; refuses once it holds `most` bytes.
class Collect : public RangeSink {
 public:
  bool Take(const char* data, DWORD length) override {
    bytes.append(data, length);
    largestPiece = std::max<DWORD>(largestPiece, length);
    return bytes.size() <= most;
  }
  std::string bytes;
  DWORD largestPiece = 0;
  std::size_t most = static_cast<std::size_t>(-1);
};

class Ranges : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = Env("ULMET_TEST_HTTP_HOST");
    if (host_.empty() || serversupport::ServedFolder().empty()) GTEST_SKIP() << "needs download_server_test.sh";
    ASSERT_EQ(Control("clear"), 200) << "test server not reachable at " << host_;
    CreateDirectoryA((serversupport::ServedFolder() + "\\rg").c_str(), nullptr);
    data_ = filesupport::Pattern(300000, 9);
    ASSERT_TRUE(filesupport::WriteBytes(serversupport::ServedFolder() + "\\rg\\file.bin", data_));
    logStart_ = LogLines().size();
  }
  void TearDown() override {
    if (!host_.empty()) Control("clear");
  }
  void Arm(const std::string& kindAndParams) {
    ASSERT_EQ(Control("fault?path=/rg/file.bin&kind=" + kindAndParams), 200);
  }
  static std::vector<std::string> LogLines() {
    std::ifstream log(serversupport::WinePath("ULMET_TEST_HTTP_LOG"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }
  // The client ports of the server's requests for the file in this test.
  std::set<std::string> ClientPorts() {
    const std::vector<std::string> lines = LogLines();
    std::set<std::string> ports;
    for (std::size_t i = logStart_; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      const std::size_t at = line.find("\"remote_port\":");
      if (line.find("\"path\":\"/rg/file.bin\"") != std::string::npos && at != std::string::npos)
        ports.insert(line.substr(at + 14, line.find_first_of(",}", at) - at - 14));
    }
    return ports;
  }
  std::string host_, data_;
  std::size_t logStart_ = 0;
};

TEST_F(Ranges, RangesArriveAsAskedOverOneConnectionAtTheDownloadPace) {
  CRangeFetcher fetcher;
  ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/file.bin", data_.size()));
  const struct {
    uint64_t offset, length;
  } asked[] = {{0, 1}, {1000, 70000}, {299000, 1000}, {123456, 4096}, {0, 300000}};
  const DWORD started = GetTickCount();
  for (const auto& a : asked) {
    Collect sink;
    EXPECT_EQ(fetcher.FetchRange(a.offset, a.length, sink), kRangeReceived) << a.offset;
    EXPECT_EQ(sink.bytes, data_.substr(a.offset, a.length)) << a.offset;
    EXPECT_LE(sink.largestPiece, 4096u);
  }
  // 95 reads of 4 KB or less, each followed by its pause.
  EXPECT_GE(GetTickCount() - started, 85u);
  EXPECT_EQ(fetcher.requests(), 5);
  EXPECT_EQ(fetcher.received(), 1u + 70000 + 1000 + 4096 + 300000);
  EXPECT_EQ(ClientPorts().size(), 1u) << "every range on the one connection";

  Collect sink;
  for (uint64_t offset : {300000ull, 299999ull}) EXPECT_EQ(fetcher.FetchRange(offset, 2, sink), kRangeRefused);
  EXPECT_EQ(fetcher.requests(), 5) << "a range outside the file is not asked for";
}

// Every way a server can fail to answer a range as asked.
TEST_F(Ranges, AnythingButTheRangeAskedForIsReported) {
  const struct {
    const char* fault;
    int result;
    std::size_t arrived;
  } cases[] = {
      {"noranges", kRangeRefused, 0},              // 200 with the whole file
      {"wrongrange", kRangeRefused, 0},            // Content-Range one byte off
      {"wrongrange&shift=-1000", kRangeRefused, 0},
      {"status&status=404", kRangeRefused, 0},
      {"chunked", kRangeReceived, 50000},          // no length given: the bytes decide
      {"cut&bytes=20000", kRangeBroken, 20000},    // the connection cut inside the range
      {"cut&bytes=0", kRangeBroken, 0},
  };
  for (const auto& c : cases) {
    Arm(c.fault);
    CRangeFetcher fetcher;
    ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/file.bin", data_.size()));
    Collect sink;
    EXPECT_EQ(fetcher.FetchRange(100000, 50000, sink), c.result) << c.fault;
    EXPECT_EQ(sink.bytes, data_.substr(100000, c.arrived)) << c.fault;
    Control("clear");
  }
  // Wrong bytes pass here: the caller checks each chunk's digest.
  Arm("wrongbytes&at=7");
  CRangeFetcher fetcher;
  ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/file.bin", data_.size()));
  Collect sink;
  EXPECT_EQ(fetcher.FetchRange(100000, 50000, sink), kRangeReceived);
  std::string expected = data_.substr(100000, 50000);
  expected[7] = static_cast<char>(expected[7] ^ 0xff);
  EXPECT_EQ(sink.bytes, expected);
  Control("clear");
  Collect refusing;
  refusing.most = 10000;
  EXPECT_EQ(fetcher.FetchRange(0, 50000, refusing), kRangeStopped);
  // The size the caller expects is part of the answer it takes.
  ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/file.bin", data_.size() + 1));
  EXPECT_EQ(fetcher.FetchRange(0, 10, sink), kRangeRefused);
  ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/missing.bin", data_.size()));
  EXPECT_EQ(fetcher.FetchRange(0, 10, sink), kRangeRefused);
}

TEST_F(Ranges, WithAReleaseOnlyAListedFileOfItsSizeIsAskedFor) {
  ul::ReleaseManifest release;
  release.files.resize(1);
  release.files[0].path = "/rg/file.bin";
  release.files[0].size = data_.size();
  CRangeFetcher fetcher(&release);
  EXPECT_FALSE(fetcher.Open(host_.c_str(), "/rg/other.bin", data_.size()));
  EXPECT_FALSE(fetcher.Open(host_.c_str(), "/rg/file.bin", data_.size() - 1));
  EXPECT_TRUE(ClientPorts().empty()) << "nothing was asked for";
  ASSERT_TRUE(fetcher.Open(host_.c_str(), "/rg/./file.bin", data_.size()));
  Collect sink;
  EXPECT_EQ(fetcher.FetchRange(5, 5, sink), kRangeReceived);
  EXPECT_EQ(sink.bytes, data_.substr(5, 5));
}

}  // namespace
