// vornsim: a stand-alone simulator of the instrument. See sim/LAYOUT.md.
#include <cstdio>
#include <string>

#include "SimLog.h"
#include "SimOptions.h"
#include "SimRunner.h"
#include "SimTransport.h"
#include "VornProtocol.h"

int main(int argc, char** argv) {
  using namespace vornsim;
  SimOptions options;
  std::string error;
  switch (ParseSimOptions(argc, argv, &options, &error)) {
    case ParseResult::kHelp:
      std::fputs(SimHelpText(), stdout);
      return 0;
    case ParseResult::kError:
      std::fprintf(stderr, "vornsim: %s\n", error.c_str());
      return 2;
    case ParseResult::kRun:
      break;
  }

  // The simulator broadcasts as the instrument: it may only do so where the
  // instrument's address is its own, or on loopback when asked to.
  uint32_t bindAddr = 0;
  uint32_t destAddr = vorn::kBroadcastAddress;
  if (!options.bindAddress.empty()) {
    if (!ParseAddress(options.bindAddress, &bindAddr) || (bindAddr >> 24) != 127) {
      std::fprintf(stderr, "vornsim: --bind accepts only a loopback address (127.x.x.x), not '%s'\n",
                   options.bindAddress.c_str());
      return 2;
    }
    destAddr = bindAddr;
  } else if (!HasLocalAddress(kSimInstrumentAddress)) {
    std::fprintf(stderr,
                 "vornsim: refusing to start: no local interface has the address 192.168.42.1 "
                 "(run it inside the instrument namespace of scripts/testnet.sh, or use --bind "
                 "127.0.0.1)\n");
    return 2;
  }

  SimLog log;
  if (!options.logPath.empty() && !log.Open(options.logPath)) {
    std::fprintf(stderr, "vornsim: cannot open log file '%s'\n", options.logPath.c_str());
    return 2;
  }
  SimRunner::InstallSignalHandlers();
  UdpSimTransport transport;
  if (!transport.Open(bindAddr, options.port, destAddr, options.destPort, &error)) {
    std::fprintf(stderr, "vornsim: %s\n", error.c_str());
    return 2;
  }
  SimRunner runner(options, transport, log,
                   AddressText(bindAddr) + ":" + std::to_string(options.port),
                   AddressText(destAddr) + ":" + std::to_string(options.destPort));
  return runner.Run();
}
