// The simulator's command line: layout, rates, clock, faults, operators,
// logging and the network it uses. ParseSimOptions checks every value and
// names the first bad one; nothing is guessed.
//
// Threads: parsed once on the main thread before anything starts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vornsim {

enum class ContStreams { kDefault, kAll, kNone };

// How module 34's digital-input stream is broken, if at all.
//   kStream: the module has no output stream (its stream block is empty and
//            the stream, signal and enable slots hold plain Ints).
//   kEnable: the "digin" stream is there, but its signal descriptor names an
//            Int instead of the Bool that switches the stream.
enum class DiginFault { kNone, kStream, kEnable };

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
  // Per operator id; key kEveryOperator applies to every operator without an
  // entry of its own.
  std::map<int, int> operatorAnswers;        // trial requests it answers, then silent
  std::map<int, uint32_t> operatorStatus;    // initial recording status code
  static constexpr int kEveryOperator = 0;

  // Discovery faults.
  std::set<int> missingModules;            // never answer anything
  std::map<int, int> silentModules;        // id -> requests left unanswered (-1 = always)
  int unknownModule = 200;
  // Electrodes (1-based) whose physical channel carries flag 0x04: not listed
  // by 'elec', still electrodes for the data commands.
  std::set<int> hiddenElectrodes;
  double unknownAfter = -1.0;              // seconds; < 0 = only on SIGUSR2
  DiginFault diginFault = DiginFault::kNone;   // --no-digin

  // Run.
  std::string logPath;                     // empty = no log; "-" = stdout
  double duration = -1.0;                  // seconds; < 0 = until signalled

  // Network. Empty bindAddress: the instrument network (needs 192.168.42.1).
  std::string bindAddress;
  uint16_t port = 2047;
  uint16_t destPort = 2046;
};

// A per-operator option's value for operator `id`: its own entry, else the
// entry for every operator, else none.
template <typename T>
std::optional<T> ForOperator(const std::map<int, T>& values, int id) {
  auto it = values.find(id);
  if (it == values.end()) it = values.find(SimOptions::kEveryOperator);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

enum class ParseResult { kRun, kHelp, kError };

// Fills *out from argv. On kError, *error names the problem.
ParseResult ParseSimOptions(int argc, const char* const* argv, SimOptions* out,
                            std::string* error);

const char* SimHelpText();

}  // namespace vornsim
