// The 1 ms pause that paces long loops (every network read, every digest
// chunk), leaving the processor to the rest of the system.
#pragma once

namespace ul {

// On Windows a wait on a high-resolution waitable timer where the system
// offers one (Windows 10 1803 and later), since there a plain Sleep(1) of a
// process whose windows are minimised or covered may last a whole 15.6 ms
// tick despite timeBeginPeriod(1); elsewhere Sleep(1). (The C++ library's
// sleep_for goes through the threads library's timed wait there, which
// lasts noticeably longer: under Wine 1.25-1.3 ms against 1.1 ms.) On other
// systems the library's sleep.
void PauseOneMillisecond();

// Whether this thread's pauses wait on the high-resolution timer.
bool PauseIsHighResolution();

}  // namespace ul
