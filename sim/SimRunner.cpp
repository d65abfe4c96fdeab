#include "SimRunner.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "SimClock.h"
#include "SimInstrument.h"
#include "SimPacker.h"

namespace vornsim {
namespace {

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gRestart = 0;
volatile sig_atomic_t gUnknown = 0;
sigset_t gWaitMask;   // the mask while waiting in ppoll: our signals open

void OnSignal(int signal) {
  if (signal == SIGUSR1) {
    gRestart = 1;
  } else if (signal == SIGUSR2) {
    gUnknown = 1;
  } else {
    gStop = 1;
  }
}

timespec Until(const timespec& deadline) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t ns = (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * 1000000000LL +
               (deadline.tv_nsec - now.tv_nsec);
  if (ns < 0) ns = 0;
  timespec rel;
  rel.tv_sec = static_cast<time_t>(ns / 1000000000LL);
  rel.tv_nsec = static_cast<long>(ns % 1000000000LL);
  return rel;
}

}  // namespace

void SimRunner::InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigset_t ours;
  sigemptyset(&ours);
  for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
    sigaction(s, &sa, nullptr);
    sigaddset(&ours, s);
  }
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &ours, &previous);
  gWaitMask = previous;
  for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigdelset(&gWaitMask, s);
}

SimRunner::SimRunner(const SimOptions& options, SimTransport& transport, SimLog& log,
                     std::string bindText, std::string destText)
    : mOptions(options),
      mTransport(transport),
      mLog(log),
      mBindText(std::move(bindText)),
      mDestText(std::move(destText)) {}

int SimRunner::Run() {
  FaultRates faults;
  faults.lossPercent = mOptions.lossPercent;
  faults.dupPercent = mOptions.dupPercent;
  faults.reorderPercent = mOptions.reorderPercent;
  faults.seed = mOptions.seed;
  SimPacker packer(mTransport, faults);
  SimInstrument instrument(mOptions, packer, mLog);
  SimClock clock;

  if (mLog.Enabled()) {
    std::vector<int64_t> ops(mOptions.operators.begin(), mOptions.operators.end());
    JsonLine line("start");
    line.Num("tick", static_cast<int64_t>(instrument.WireTime()))
        .Num("pid", static_cast<int64_t>(getpid()))
        .Num("clock", static_cast<int64_t>(mOptions.clockStart))
        .Num("modules", static_cast<int64_t>(instrument.Layout().modules.size()))
        .Array("operators", ops)
        .Str("bind", mBindText)
        .Str("dest", mDestText);
    mLog.Write(line);
  }

  bool restartDone = false;
  bool unknownStarted = false;
  uint64_t skipped = 0;
  std::vector<uint8_t> buffer(65536);
  const int fd = mTransport.PollHandle();

  while (gStop == 0) {
    const double elapsed = clock.Elapsed();
    if (mOptions.duration >= 0 && elapsed >= mOptions.duration) break;
    const bool timedRestart = !restartDone && mOptions.restartAfter >= 0 && elapsed >= mOptions.restartAfter;
    if (gRestart != 0 || timedRestart) {
      if (timedRestart) restartDone = true;
      gRestart = 0;
      const uint32_t before = instrument.WireTime();
      packer.Flush();
      clock.Restart();
      instrument.RestartClock();
      if (mLog.Enabled()) {
        JsonLine line("clock_restart");
        line.Num("tick", static_cast<int64_t>(instrument.WireTime()))
            .Num("from", static_cast<int64_t>(before))
            .Num("to", static_cast<int64_t>(instrument.WireTime()));
        mLog.Write(line);
      }
    }
    const bool timedUnknown = !unknownStarted && mOptions.unknownAfter >= 0 && elapsed >= mOptions.unknownAfter;
    if (gUnknown != 0 || timedUnknown) {
      gUnknown = 0;
      unknownStarted = true;
      instrument.SetUnknownModuleData(true);
      if (mLog.Enabled()) {
        JsonLine line("unknown_module");
        line.Num("tick", static_cast<int64_t>(instrument.WireTime())).Num("module", mOptions.unknownModule);
        mLog.Write(line);
      }
    }

    const uint64_t target = clock.Ticks();
    if (target > instrument.Now() + static_cast<uint64_t>(mOptions.maxLagMs) * 30u) {
      const uint64_t gap = target - instrument.Now();
      skipped += gap;
      instrument.Skip(target);
      if (mLog.Enabled()) {
        JsonLine line("clock_skip");
        line.Num("tick", static_cast<int64_t>(instrument.WireTime())).Num("ticks", static_cast<int64_t>(gap));
        mLog.Write(line);
      }
    } else {
      instrument.Advance(target);
    }
    packer.Flush();

    const timespec wait = Until(clock.NextDeadline(mOptions.batchMicros));
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ppoll(fd >= 0 ? &pfd : nullptr, fd >= 0 ? 1 : 0, &wait, &gWaitMask);
    if (ready > 0 && (pfd.revents & POLLIN) != 0) {
      // Bounded, so that a flood of requests cannot starve the data.
      for (int i = 0; i < 256; ++i) {
        DatagramAddresses addresses;
        const int n = mTransport.Receive(buffer.data(), buffer.size(), &addresses);
        if (n < 0) break;
        instrument.HandleDatagram(buffer.data(), static_cast<size_t>(n), addresses);
      }
      packer.Flush();
    }
  }
  packer.Flush();

  const PackerCounters& sent = packer.Counters();
  const ReceiveCounters& got = instrument.Counters();
  const double seconds = clock.Elapsed();
  if (mLog.Enabled()) {
    JsonLine line("stop");
    line.Num("tick", static_cast<int64_t>(instrument.WireTime()))
        .Num("sent_packets", static_cast<int64_t>(sent.packets))
        .Num("sent_datagrams", static_cast<int64_t>(sent.datagrams))
        .Num("received_packets", static_cast<int64_t>(got.packets))
        .Num("lost", static_cast<int64_t>(sent.lost))
        .Num("duplicated", static_cast<int64_t>(sent.duplicated))
        .Num("reordered", static_cast<int64_t>(sent.reordered))
        .Num("skipped_ticks", static_cast<int64_t>(skipped));
    mLog.Write(line);
  }
  std::printf(
      "vornsim: ran %.1f s; sent %llu packets in %llu datagrams (%.0f packets/s; lost %llu, "
      "duplicated %llu, reordered %llu, skipped %llu ticks); received %llu packets in %llu "
      "datagrams (requests %llu, sets %llu, digital outputs %llu, stim %llu, trial %llu, "
      "other %llu)\n",
      seconds, static_cast<unsigned long long>(sent.packets),
      static_cast<unsigned long long>(sent.datagrams),
      seconds > 0 ? static_cast<double>(sent.packets) / seconds : 0.0,
      static_cast<unsigned long long>(sent.lost), static_cast<unsigned long long>(sent.duplicated),
      static_cast<unsigned long long>(sent.reordered), static_cast<unsigned long long>(skipped),
      static_cast<unsigned long long>(got.packets), static_cast<unsigned long long>(got.datagrams),
      static_cast<unsigned long long>(got.requests), static_cast<unsigned long long>(got.sets),
      static_cast<unsigned long long>(got.digouts), static_cast<unsigned long long>(got.stims),
      static_cast<unsigned long long>(got.trials), static_cast<unsigned long long>(got.other));
  std::fflush(stdout);
  return 0;
}

}  // namespace vornsim
