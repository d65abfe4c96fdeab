// The simulator's main loop: every batch interval (1 ms by default) it
// reads the paced clock, produces the data of the ticks that have passed,
// flushes the datagrams with one sendmmsg per batch, and waits in ppoll for
// the next batch or an incoming datagram, which it handles at once. Signals
// are blocked outside ppoll, so a signal is seen at the next wake-up:
// SIGINT/SIGTERM stop, SIGUSR1 restarts the clock, SIGUSR2 starts the
// unknown module's data.
//
// When the loop falls behind the clock it catches up by sending the missed
// data at once; when it falls more than --max-lag-ms (250 ms) behind (the
// process was stopped, or the machine is starved) it skips to the present
// instead of sending a burst no receiver could take: the skipped ticks are
// counted and logged.
//
// Threads: runs on the thread that calls Run(); it is the simulator's only
// thread.
#pragma once

#include <cstdint>
#include <string>

#include "SimLog.h"
#include "SimOptions.h"
#include "SimTransport.h"

namespace vornsim {

class SimRunner {
 public:
  SimRunner(const SimOptions& options, SimTransport& transport, SimLog& log,
            std::string bindText, std::string destText);
  // Runs until stopped; returns the process exit status.
  int Run();
  // Installs the signal handlers and blocks the signals outside ppoll.
  static void InstallSignalHandlers();

 private:
  SimOptions mOptions;
  SimTransport& mTransport;
  SimLog& mLog;
  std::string mBindText;
  std::string mDestText;
};

}  // namespace vornsim
