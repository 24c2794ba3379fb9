// The chained file digest (FileHasher::ComputeFileDigest) of one file, beside
// what its pauses cost: one 1 ms pause after every 32 KB chunk. Not a test;
// scripts/bench.sh runs it under Wine, and natively with --no-pause to get
// the digest that the Wine run must agree with.
//
//   ul_file_digest_bench FILE [--no-pause]
//
// Prints "name value" lines: digest, seconds, chunks and pause_ms (one pause
// as it lasts here, the mean of 300 before and 300 after the digest).
#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/pause.h"
#include "formats/trust/file_hasher.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

double PauseSeconds(int count) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) ul::PauseOneMillisecond();
  return Seconds(t0);
}

void Pause(void*) { ul::PauseOneMillisecond(); }

}  // namespace

int main(int argc, char** argv) {
  const bool pause = !(argc == 3 && std::strcmp(argv[2], "--no-pause") == 0);
  if (argc != 2 && pause) {
    std::fprintf(stderr, "usage: ul_file_digest_bench FILE [--no-pause]\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr || std::fseek(f, 0, SEEK_END) != 0) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  const long size = std::ftell(f);
  std::fclose(f);

  double paused = pause ? PauseSeconds(300) : 0;
  FileHasher hasher;
  if (pause) hasher.SetChunkHook(&Pause, nullptr);  // as the updater's comparison pauses
  char digest[33] = {0};
  auto t0 = std::chrono::steady_clock::now();
  const bool ok = hasher.ComputeFileDigest(argv[1], digest);
  const double seconds = Seconds(t0);
  if (pause) paused += PauseSeconds(300);
  if (!ok || std::strlen(digest) != 32) {
    std::fprintf(stderr, "no digest of %s\n", argv[1]);
    return 1;
  }
  std::printf("digest %s\nseconds %.3f\nchunks %ld\npause_ms %.4f\n", digest, seconds,
              (size + 32767) / 32768, paused / 600 * 1000);
  return 0;
}
