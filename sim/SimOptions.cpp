#include "SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace vornsim {
namespace {

bool ParseInt(const std::string& text, long long lo, long long hi, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseReal(const std::string& text, double lo, double hi, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
    return false;
  }
  *out = v;
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) parts.push_back(item);
  return parts;
}

// "[ID:]VALUE" of a per-operator option: ID 129..254, or the whole text is
// the value for every operator.
bool ParseOperatorValue(const std::string& text, long long hi, int* id, long long* value) {
  const size_t colon = text.find(':');
  long long n = SimOptions::kEveryOperator;
  if (colon != std::string::npos && !ParseInt(text.substr(0, colon), 129, 254, &n)) return false;
  const std::string rest = colon == std::string::npos ? text : text.substr(colon + 1);
  if (!ParseInt(rest, 0, hi, value)) return false;
  *id = static_cast<int>(n);
  return true;
}

template <typename T>
bool NamesOnlyOperators(const std::map<int, T>& values, const std::vector<int>& operators,
                        const char* option, std::string* error) {
  for (const auto& entry : values) {
    if (entry.first == SimOptions::kEveryOperator) continue;
    bool known = false;
    for (int id : operators) known = known || id == entry.first;
    if (!known) {
      *error = std::string(option) + " names operator " + std::to_string(entry.first) +
               ", which is not in --operators";
      return false;
    }
  }
  return true;
}

}  // namespace

const char* SimHelpText() {
  return
      "usage: vornsim [options]\n"
      "Plays the instrument's main processor (processor 1, modules 0..34) and its\n"
      "operator workstations on the instrument network: answers property requests,\n"
      "applies property sets, digital output sets, stim packets and trial records,\n"
      "and streams time, continuous, spike, stim and digital event data to\n"
      "192.168.42.255 port 2046. Receives on port 2047. Runs only where a local\n"
      "interface has the address 192.168.42.1 (the test network's instrument\n"
      "namespace), or with --bind on a loopback address. See sim/LAYOUT.md.\n"
      "\n"
      "Layout:\n"
      "  --front-ends N        electrode front ends, 1..16 (default 5)\n"
      "  --channels C          channels per front end, 1..32 (default 32)\n"
      "  --stim-front-end I    which front end is the stim front end, 1..N, 0 none (default 5)\n"
      "  --analog-inputs A     analog inputs, 0..32 (default 16; 0 = no analog module)\n"
      "  --cont-streams WHICH  continuous streams enabled at start: default, all, none\n"
      "  --profile full        16 front ends, every continuous stream on\n"
      "Rates:\n"
      "  --spike-rate HZ       spikes per second per enabled channel (default 10)\n"
      "  --event-rate HZ       periodic digital input events per second (default 10)\n"
      "Clock:\n"
      "  --clock-start T       first clock value, 0..4294967295 (default 30000)\n"
      "  --restart-after S     restart the clock at --clock-start after S seconds\n"
      "                        (SIGUSR1 restarts it at any time)\n"
      "  --batch-us U          send interval in microseconds, 100..100000 (default 1000)\n"
      "  --max-lag-ms L        when the sender falls more than L ms behind the clock (it was\n"
      "                        stopped or starved), it skips ahead instead of catching up\n"
      "                        (default 250)\n"
      "Faults (percent of outgoing packets, replies and data alike):\n"
      "  --loss P  --dup P  --reorder P   lose / duplicate / swap with the next packet\n"
      "  --seed N              seed of the fault sequence (default 1)\n"
      "  --missing-module M    module M answers nothing, not even its descriptor (repeatable)\n"
      "  --silent-module M[:K] module M answers only with its descriptor for its first K\n"
      "                        property requests (always without :K) (repeatable)\n"
      "  --hidden-electrode E  electrode E's physical channel has flag 0x04 (not listed);\n"
      "                        1..512 or an analog input 10241.. (repeatable)\n"
      "  --unknown-module ID   module id of unknown-module data (default 200)\n"
      "  --unknown-after S     after S seconds send one continuous packet per ms from the\n"
      "                        unknown module (SIGUSR2 starts it at any time)\n"
      "  --no-digin WHAT       break module 34's \"digin\" stream: 'stream' leaves the stream\n"
      "                        out (no digital events), 'enable' points its signal\n"
      "                        descriptor at an Int instead of its enable Bool\n"
      "Operators:\n"
      "  --operators LIST      operator ids 129..254, comma separated, or none (default 129,131)\n"
      "  --operator-answers [ID:]N  the operator (every operator without ID) answers only\n"
      "                        its first N trial requests; then it is silent: no answers,\n"
      "                        no report after a record is applied (repeatable)\n"
      "  --operator-status [ID:]CODE  initial recording status code, 0..4294967295, of the\n"
      "                        operator (every operator without ID) (default 1, repeatable)\n"
      "Run:\n"
      "  --log FILE            log every received packet, decoded, as JSON lines (- = stdout)\n"
      "  --duration S          stop by itself after S seconds\n"
      "  --bind ADDR           loopback address to use instead of the instrument network\n"
      "  --port P              receive port (default 2047)\n"
      "  --dest-port P         destination port (default 2046)\n"
      "  --help                this text\n"
      "Signals: SIGINT/SIGTERM stop with a one-line summary; SIGUSR1 restarts the clock;\n"
      "SIGUSR2 starts unknown-module data.\n";
}

ParseResult ParseSimOptions(int argc, const char* const* argv, SimOptions* out,
                            std::string* error) {
  SimOptions o;
  bool profileFull = false;
  bool frontEndsGiven = false;
  bool contStreamsGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasInline = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasInline = true;
    }
    if (arg == "--help" || arg == "-h") return ParseResult::kHelp;
    auto next = [&](std::string* v) {
      if (hasInline) {
        *v = value;
        return true;
      }
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      *v = argv[++i];
      return true;
    };
    auto bad = [&](const std::string& v) {
      *error = "invalid value '" + v + "' for " + arg;
      return ParseResult::kError;
    };
    std::string v;
    long long n = 0;
    double d = 0;
    if (arg == "--front-ends") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 16, &n)) return bad(v);
      o.frontEnds = static_cast<int>(n);
      frontEndsGiven = true;
    } else if (arg == "--channels") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 32, &n)) return bad(v);
      o.channels = static_cast<int>(n);
    } else if (arg == "--stim-front-end") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 0, 16, &n)) return bad(v);
      o.stimFrontEnd = static_cast<int>(n);
    } else if (arg == "--analog-inputs") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 0, 32, &n)) return bad(v);
      o.analogInputs = static_cast<int>(n);
    } else if (arg == "--cont-streams") {
      if (!next(&v)) return ParseResult::kError;
      if (v == "default") {
        o.contStreams = ContStreams::kDefault;
      } else if (v == "all") {
        o.contStreams = ContStreams::kAll;
      } else if (v == "none") {
        o.contStreams = ContStreams::kNone;
      } else {
        return bad(v);
      }
      contStreamsGiven = true;
    } else if (arg == "--profile") {
      if (!next(&v)) return ParseResult::kError;
      if (v == "full") {
        profileFull = true;
      } else if (v != "default") {
        return bad(v);
      }
    } else if (arg == "--spike-rate") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 1000.0, &d)) return bad(v);
      o.spikeRate = d;
    } else if (arg == "--event-rate") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 10000.0, &d)) return bad(v);
      o.eventRate = d;
    } else if (arg == "--clock-start") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 0, 0xFFFFFFFFLL, &n)) return bad(v);
      o.clockStart = static_cast<uint32_t>(n);
    } else if (arg == "--restart-after") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 1e6, &d)) return bad(v);
      o.restartAfter = d;
    } else if (arg == "--batch-us") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 100, 100000, &n)) return bad(v);
      o.batchMicros = static_cast<int>(n);
    } else if (arg == "--max-lag-ms") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 60000, &n)) return bad(v);
      o.maxLagMs = static_cast<int>(n);
    } else if (arg == "--loss" || arg == "--dup" || arg == "--reorder") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 100.0, &d)) return bad(v);
      (arg == "--loss" ? o.lossPercent : arg == "--dup" ? o.dupPercent : o.reorderPercent) = d;
    } else if (arg == "--seed") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 0, INT64_MAX, &n)) return bad(v);
      o.seed = static_cast<uint64_t>(n);
    } else if (arg == "--operators") {
      if (!next(&v)) return ParseResult::kError;
      o.operators.clear();
      if (v != "none") {
        for (const std::string& part : SplitComma(v)) {
          if (!ParseInt(part, 129, 254, &n)) return bad(v);
          for (int existing : o.operators) {
            if (existing == n) return bad(v);
          }
          o.operators.push_back(static_cast<int>(n));
        }
        if (o.operators.empty()) return bad(v);
      }
    } else if (arg == "--operator-answers" || arg == "--operator-status") {
      if (!next(&v)) return ParseResult::kError;
      const bool answers = arg == "--operator-answers";
      int id = 0;
      if (!ParseOperatorValue(v, answers ? 1000000 : 0xFFFFFFFFLL, &id, &n)) return bad(v);
      if (answers) {
        o.operatorAnswers[id] = static_cast<int>(n);
      } else {
        o.operatorStatus[id] = static_cast<uint32_t>(n);
      }
    } else if (arg == "--no-digin") {
      if (!next(&v)) return ParseResult::kError;
      if (v == "stream") {
        o.diginFault = DiginFault::kStream;
      } else if (v == "enable") {
        o.diginFault = DiginFault::kEnable;
      } else {
        return bad(v);
      }
    } else if (arg == "--missing-module") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 0, 34, &n)) return bad(v);
      o.missingModules.insert(static_cast<int>(n));
    } else if (arg == "--silent-module") {
      if (!next(&v)) return ParseResult::kError;
      const size_t colon = v.find(':');
      long long count = -1;
      if (!ParseInt(v.substr(0, colon), 0, 34, &n)) return bad(v);
      if (colon != std::string::npos && !ParseInt(v.substr(colon + 1), 0, 1000000, &count)) {
        return bad(v);
      }
      o.silentModules[static_cast<int>(n)] = static_cast<int>(count);
    } else if (arg == "--hidden-electrode") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 10240 + 32, &n) || (n > 512 && n <= 10240)) return bad(v);
      o.hiddenElectrodes.insert(static_cast<int>(n));
    } else if (arg == "--unknown-module") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 254, &n)) return bad(v);
      o.unknownModule = static_cast<int>(n);
    } else if (arg == "--unknown-after") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 1e6, &d)) return bad(v);
      o.unknownAfter = d;
    } else if (arg == "--log") {
      if (!next(&v)) return ParseResult::kError;
      if (v.empty()) return bad(v);
      o.logPath = v;
    } else if (arg == "--duration") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseReal(v, 0.0, 1e7, &d)) return bad(v);
      o.duration = d;
    } else if (arg == "--bind") {
      if (!next(&v)) return ParseResult::kError;
      o.bindAddress = v;
    } else if (arg == "--port" || arg == "--dest-port") {
      if (!next(&v)) return ParseResult::kError;
      if (!ParseInt(v, 1, 65535, &n)) return bad(v);
      (arg == "--port" ? o.port : o.destPort) = static_cast<uint16_t>(n);
    } else {
      *error = "unknown option '" + std::string(argv[i]) + "' (see --help)";
      return ParseResult::kError;
    }
  }
  if (profileFull) {
    if (!frontEndsGiven) o.frontEnds = 16;
    if (!contStreamsGiven) o.contStreams = ContStreams::kAll;
  }
  if (o.stimFrontEnd > o.frontEnds) {
    *error = "--stim-front-end " + std::to_string(o.stimFrontEnd) + " is beyond --front-ends " +
             std::to_string(o.frontEnds);
    return ParseResult::kError;
  }
  for (int id : o.missingModules) {
    if (o.silentModules.count(id) != 0) {
      *error = "module " + std::to_string(id) + " cannot be both missing and silent";
      return ParseResult::kError;
    }
  }
  if (!NamesOnlyOperators(o.operatorAnswers, o.operators, "--operator-answers", error) ||
      !NamesOnlyOperators(o.operatorStatus, o.operators, "--operator-status", error)) {
    return ParseResult::kError;
  }
  if (o.unknownModule <= 34) {
    *error = "--unknown-module must not be a module of the instrument (0..34)";
    return ParseResult::kError;
  }
  *out = o;
  return ParseResult::kRun;
}

}  // namespace vornsim
