// The 1 ms pause that paces long loops (every digest chunk), leaving the
// processor to the rest of the system.
#pragma once

namespace ul {

// Sleep(1) on Windows. The C++ library's sleep_for goes through the threads
// library's timed wait there, which lasts noticeably longer (under Wine
// 1.25-1.3 ms against 1.1 ms); elsewhere it is that sleep.
void PauseOneMillisecond();

}  // namespace ul
