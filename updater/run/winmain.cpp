#include <windows.h>

#include "framework/framework.h"
#include "run/timer_period.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int result = 0;
  {
    // The pauses after each read and each digest chunk are meant to last
    // 1 ms; Windows gives that only to a process that asks for it. Every end
    // of the run (a refused start, a failed configuration, the dialog closed
    // by the run or by the user) comes back through here, so the request is
    // given back before the process ends.
    TimerPeriod oneMillisecond(1);
    result = AfxRunApp(instance);
  }
  // A worker may still be inside a download when the dialog ends (the user
  // closed it). Ending the process here stops that thread before anything it
  // uses (the configuration, the dialog's update list, the status text) is
  // destroyed by the static destructors.
  ExitProcess(static_cast<UINT>(result));
}
