// Holds a timer resolution request for the lifetime of the object.
//
// Every network read and every digest chunk is followed by Sleep(1). On
// Windows a sleep lasts until the next tick of the system timer, 15.6 ms by
// default, so without a request of its own this process would pause about
// fifteen times longer than it means to (a download capped near 260 KB/s).
// Since Windows 10 2004 another program's request no longer shortens our
// sleeps: the process has to ask itself.
#pragma once

class TimerPeriod {
 public:
  explicit TimerPeriod(unsigned milliseconds);
  ~TimerPeriod();
  TimerPeriod(const TimerPeriod&) = delete;
  TimerPeriod& operator=(const TimerPeriod&) = delete;

  // False when the system refused the period; nothing is given back then.
  bool Active() const { return active_; }

 private:
  unsigned milliseconds_;
  bool active_;
};
