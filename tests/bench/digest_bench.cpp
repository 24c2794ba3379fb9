// Throughput of DigestBuffer on a 256 MB buffer, against the system's
// md5sum over the same bytes in the same run. Native only; not a test.
//
//   ul_digest_bench [megabytes] [rounds]
//
// md5sum reads the bytes from a file just written (so from the page cache);
// its time includes starting the process and reading the file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "formats/trust/md5.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::size_t size = megabytes << 20;
  std::vector<unsigned char> data(size);
  uint32_t x = 0x12345678u;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;  // any bytes will do; these are not all alike
    data[i] = static_cast<unsigned char>(x >> 24);
  }

  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp ? tmp : "/tmp") + "/ul_digest_bench_" + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(data.data(), 1, size, f) != size || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 2;
  }

  double ours = 1e30, theirs = 1e30;
  char hex[33] = {0};
  std::string theirHex;
  for (int r = 0; r < rounds; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    DigestBuffer(data.data(), size, hex);
    double s = Seconds(t0);
    if (s < ours) ours = s;

    std::string cmd = "md5sum '" + path + "'";
    t0 = std::chrono::steady_clock::now();
    std::FILE* p = popen(cmd.c_str(), "r");
    char line[256] = {0};
    if (p == nullptr || std::fgets(line, sizeof line, p) == nullptr) {
      std::fprintf(stderr, "md5sum failed\n");
      std::remove(path.c_str());
      return 2;
    }
    pclose(p);
    s = Seconds(t0);
    if (s < theirs) theirs = s;
    theirHex.assign(line, 32);
  }
  std::remove(path.c_str());

  const double mb = static_cast<double>(size) / (1 << 20);
  std::printf("bytes          %zu (%zu MB), best of %d rounds\n", size, megabytes, rounds);
  std::printf("DigestBuffer   %.3f s  %.1f MB/s  %s\n", ours, mb / ours, hex);
  std::printf("md5sum         %.3f s  %.1f MB/s  %s\n", theirs, mb / theirs, theirHex.c_str());
  std::printf("ratio          %.3f (DigestBuffer throughput / md5sum throughput)\n", theirs / ours);
  if (theirHex != hex) {
    std::printf("DIGESTS DIFFER\n");
    return 1;
  }
  return 0;
}
