// The simulator's command line: layout, rates, clock, faults, operators,
// logging and the network it uses. ParseSimOptions checks every value and
// names the first bad one; nothing is guessed.
//
// Threads: parsed once on the main thread before anything starts.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vornsim {

enum class ContStreams { kDefault, kAll, kNone };

struct SimOptions {
  // Layout.
  int frontEnds = 5;        // electrode front ends, 1..16
  int channels = 32;        // channels per front end, 1..32
  int stimFrontEnd = 5;     // 1-based front end that is the stim front end; 0 none
  int analogInputs = 16;    // 0..32; 0 = no analog module
  ContStreams contStreams = ContStreams::kDefault;

  // Rates.
  double spikeRate = 10.0;  // per enabled channel, Hz
  double eventRate = 10.0;  // periodic digital events, Hz

  // Clock.
  uint32_t clockStart = 30000;
  double restartAfter = -1.0;   // seconds; < 0 = never
  int batchMicros = 1000;       // send interval
  int maxLagMs = 250;           // further behind the clock than this: skip ahead

  // Faults, in percent of outgoing packets.
  double lossPercent = 0.0;
  double dupPercent = 0.0;
  double reorderPercent = 0.0;
  uint64_t seed = 1;

  // Operators.
  std::vector<int> operators = {129, 131};

  // Discovery faults.
  std::set<int> missingModules;            // never answer anything
  std::map<int, int> silentModules;        // id -> requests left unanswered (-1 = always)
  int unknownModule = 200;
  double unknownAfter = -1.0;              // seconds; < 0 = only on SIGUSR2

  // Run.
  std::string logPath;                     // empty = no log; "-" = stdout
  double duration = -1.0;                  // seconds; < 0 = until signalled

  // Network. Empty bindAddress: the instrument network (needs 192.168.42.1).
  std::string bindAddress;
  uint16_t port = 2047;
  uint16_t destPort = 2046;
};

enum class ParseResult { kRun, kHelp, kError };

// Fills *out from argv. On kError, *error names the problem.
ParseResult ParseSimOptions(int argc, const char* const* argv, SimOptions* out,
                            std::string* error);

const char* SimHelpText();

}  // namespace vornsim
