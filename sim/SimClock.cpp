#include "SimClock.h"

namespace vornsim {

int64_t SimClock::NowNanos() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

SimClock::SimClock() : mStart(NowNanos()), mOrigin(mStart) {}

void SimClock::Restart() { mOrigin = NowNanos(); }

uint64_t SimClock::Ticks() const {
  const int64_t ns = NowNanos() - mOrigin;
  if (ns <= 0) return 0;
  // 30000 ticks per 10^9 ns = 3 ticks per 100000 ns; exact integer math.
  return static_cast<uint64_t>(ns / 100000) * 3 + static_cast<uint64_t>((ns % 100000) * 3 / 100000);
}

double SimClock::Elapsed() const { return static_cast<double>(NowNanos() - mStart) / 1e9; }

timespec SimClock::NextDeadline(int micros) const {
  const int64_t period = static_cast<int64_t>(micros) * 1000;
  const int64_t now = NowNanos();
  const int64_t since = now - mOrigin;
  const int64_t next = mOrigin + (since / period + 1) * period;
  timespec ts;
  ts.tv_sec = static_cast<time_t>(next / 1000000000LL);
  ts.tv_nsec = static_cast<long>(next % 1000000000LL);
  return ts;
}

}  // namespace vornsim
