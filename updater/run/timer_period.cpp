#include "run/timer_period.h"

#include <windows.h>
#include <mmsystem.h>

TimerPeriod::TimerPeriod(unsigned milliseconds)
    : milliseconds_(milliseconds), active_(timeBeginPeriod(milliseconds) == TIMERR_NOERROR) {}

TimerPeriod::~TimerPeriod() {
  if (active_) timeEndPeriod(milliseconds_);
}
