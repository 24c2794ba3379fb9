// The 1 ms pause that paces long loops (every network read, every digest
// chunk), leaving the processor to the rest of the system.
#pragma once

#include <cstdint>

namespace ul {

// On Windows a wait on a high-resolution waitable timer where the system
// offers one that keeps to 1 ms as well as Sleep(1) does (Windows 10 1803
// and later), since
// there a plain Sleep(1) of a process whose windows are minimised or covered
// may last a whole 15.6 ms tick despite timeBeginPeriod(1); Sleep(1)
// elsewhere. (The C++ library's sleep_for goes through the threads
// library's timed wait there, which lasts noticeably longer: under Wine
// 1.25-1.3 ms against 1.1 ms.) On other systems the library's sleep.
void PauseOneMillisecond();

// What the calling thread's pauses wait on: whether the system made a
// high-resolution timer, how long one of its 1 ms waits lasted when it was
// tried (ms), and whether the pauses use it.
struct PauseChoice {
  bool timerMade = false;
  double timerWaitMs = 0;
  bool usesTimer = false;
};
PauseChoice ThisThreadsPause();

// How many pauses the calling thread has taken: what a read's pace costs,
// counted for the tests and the bench.
uint64_t PausesTaken();

}  // namespace ul
