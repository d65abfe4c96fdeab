// The simulator's paced clock: the instrument's 30 kHz tick count derived
// from the system's monotonic clock, so that data leaves at the real rate
// however the sending loop is scheduled. Ticks count from the last
// (re)start; the loop produces the data of every tick up to Ticks() and then
// sleeps until the next batch is due.
//
// Threads: the simulator's loop thread only.
#pragma once

#include <cstdint>
#include <ctime>

namespace vornsim {

class SimClock {
 public:
  SimClock();
  // The clock counts from 0 again from now on.
  void Restart();
  // 30 kHz ticks since the last (re)start.
  uint64_t Ticks() const;
  // Seconds since the simulator started (not affected by Restart).
  double Elapsed() const;
  // The monotonic time `micros` after the start of the current batch
  // period, rounded so that batches stay on a fixed grid.
  timespec NextDeadline(int micros) const;

  static int64_t NowNanos();

 private:
  int64_t mStart;     // of the run
  int64_t mOrigin;    // of tick 0
};

}  // namespace vornsim
