#include "common/pause.h"
#ifdef _WIN32
#include <windows.h>

#include "formats/base/owned_win.h"
#include "common/pause_win.h"

namespace ul {


namespace {

// Not in the headers of every system the updater supports.
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD kTimerAllAccess = 0x001F0003;       // TIMER_ALL_ACCESS

using CreateTimerEx = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);

// One timer per thread: the worker's download and the user-interface
// thread's digest pass pause independently. Systems without the function
// (before Vista) or without the flag (before Windows 10 1803) make none. A
// system may take the flag and still wait in coarser steps (Wine 8: 1.6 to
// 2.3 ms, against 1.1 ms for its Sleep(1)): the first waits of both kinds
// are timed, and a timer that lasts a quarter longer than Sleep(1) is left
// unused. (Where Sleep(1) is a whole tick, the timer always wins.) The
// pauses are Sleep(1) without a timer.
class PauseTimer {
 public:
  PauseTimer() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    CreateTimerEx create =
        kernel ? reinterpret_cast<CreateTimerEx>(GetProcAddress(kernel, "CreateWaitableTimerExW")) : nullptr;
    if (create != nullptr) timer_.Reset(create(nullptr, nullptr, kHighResolutionTimer, kTimerAllAccess));
    if (!timer_) return;
    made_ = true;
    waitMs_ = TimedMs(true);
    if (waitMs_ <= 0 || waitMs_ > 1.25 * TimedMs(false)) timer_.Reset();
  }
  HANDLE Get() const { return timer_.Get(); }
  // Starts the 1 ms; false when there is no timer or it would not start.
  bool Arm() {
    if (!timer_) return false;
    LARGE_INTEGER due;
    due.QuadPart = -10000;  // relative, in 100 ns steps
    return SetWaitableTimer(timer_.Get(), &due, 0, nullptr, nullptr, FALSE) != 0;
  }
  PauseChoice Choice() const { return {made_, waitMs_, static_cast<bool>(timer_)}; }

 private:
  // The mean of a few 1 ms waits on the timer, or of Sleep(1); 0 when the
  // timer would not start.
  double TimedMs(bool onTimer) {
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&a);
    for (int i = 0; i < kTimedWaits; ++i) {
      if (!onTimer) {
        Sleep(1);
      } else if (Arm()) {
        WaitForSingleObject(timer_.Get(), INFINITE);
      } else {
        return 0;
      }
    }
    QueryPerformanceCounter(&b);
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart) / kTimedWaits;
  }

  static constexpr int kTimedWaits = 8;
  Handle timer_;
  bool made_ = false;
  double waitMs_ = 0;
};

PauseTimer& ThreadTimer() {
  thread_local PauseTimer timer;
  return timer;
}

thread_local uint64_t pausesTaken = 0;

}  // namespace

uint64_t PausesTaken() { return pausesTaken; }

void PauseOneMillisecond() {
  ++pausesTaken;
  PauseTimer& timer = ThreadTimer();
  if (timer.Arm()) {
    WaitForSingleObject(timer.Get(), INFINITE);
  } else {
    Sleep(1);
  }
}

PauseChoice ThisThreadsPause() { return ThreadTimer().Choice(); }

void PauseOneMillisecondHandling(MessageHandler handle, void* context) {
  ++pausesTaken;
  PauseTimer& timer = ThreadTimer();
  handle(context);
  if (!timer.Arm()) {
    Sleep(1);
    return;
  }
  // Until the timer runs out, every message that arrives is handled at once
  // (a failed wait ends the pause rather than loop).
  HANDLE h = timer.Get();
  while (MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) handle(context);
}

}  // namespace ul

#else
#include <chrono>
#include <thread>

namespace ul {

thread_local uint64_t pausesTaken = 0;

void PauseOneMillisecond() {
  ++pausesTaken;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PauseChoice ThisThreadsPause() { return {}; }

uint64_t PausesTaken() { return pausesTaken; }

}  // namespace ul
#endif
