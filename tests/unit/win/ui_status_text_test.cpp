#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "run/app.h"

namespace {

// A worker replaces the status text while the dialog's timer copies it: every
// copy must be one whole text that was set, never a mixture or a crash.
TEST(StatusText, WriterAndReaderThreadsNeverSeeATornText) {
  CULPatchwellApp app;
  // Long enough to live on the heap, different lengths so that a torn copy
  // shows in size or content.
  const std::string a = "\n" + std::string(700, 'a');
  const std::string b = "\n[" + std::string(2300, 'b') + "] 파일을 다운로드 중입니다.";
  const std::string c;
  app.SetStatusText(a);

  std::atomic<bool> stop{false};
  std::atomic<long> writes{0};
  std::thread writer([&] {
    for (long i = 0; !stop.load(); ++i) {
      app.SetStatusText(i % 3 == 0 ? a : (i % 3 == 1 ? b : c));
      writes.fetch_add(1);
    }
  });

  long reads = 0, torn = 0, sawA = 0, sawB = 0, sawC = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 1500) {
    std::string s = app.GetStatusText();
    ++reads;
    if (s == a) {
      ++sawA;
    } else if (s == b) {
      ++sawB;
    } else if (s == c) {
      ++sawC;
    } else {
      ++torn;
    }
  }
  stop = true;
  writer.join();

  EXPECT_EQ(torn, 0);
  EXPECT_GT(writes.load(), 1000);
  EXPECT_GT(reads, 1000);
  // Both threads really ran together: the reader saw every kind of text.
  EXPECT_GT(sawA, 0);
  EXPECT_GT(sawB, 0);
  EXPECT_GT(sawC, 0);
}

}  // namespace
