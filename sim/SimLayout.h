// The instrument the simulator plays: every module with its property
// records (as the instrument reports them at power-up), the table of data
// streams with their enable switches, and where the special properties live.
// sim/LAYOUT.md documents the default layout; this is its one source.
//
// Threads: built once before the simulator starts; read-only afterwards
// (SimInstrument copies the records it changes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace vornsim {

using Bytes = std::vector<uint8_t>;

enum class StreamKind { kTime, kCont16, kContFloat, kSpike, kStim, kDigEvent };

struct SimStream {
  uint8_t module = 0;
  uint8_t number = 0;        // 1-based position in the module's stream block
  StreamKind kind = StreamKind::kCont16;
  uint8_t period = 1;        // clock ticks per frame
  uint16_t channels = 0;     // samples per frame (continuous); 1 for segments
  uint16_t enableFirst = 0;  // property index of channel 0's enable
  uint16_t enableCount = 0;  // consecutive enables (0 for the time stream)
  int channel = -1;          // per-channel segment streams: the physical channel
  bool defaultOn = true;
};

struct SimModule {
  uint8_t id = 0;
  uint16_t frontEndType = 0;
  std::string name;
  std::vector<Bytes> props;  // index = property index; every slot filled
};

struct SimLayout {
  std::vector<SimModule> modules;   // ascending, dense ids
  std::vector<SimStream> streams;
  uint16_t highestModule = 34;

  // Module 0.
  uint16_t stimEnableProp = 6;
  uint16_t processorDescProp = 5;

  // Stim front end (stimModule < 0: none).
  int stimModule = -1;
  uint16_t stimControlFirst = 0;   // property of channel 0's stim control
  int stimChannels = 0;
  int stimFirstElectrode = 0;      // 1-based electrode of channel 0

  // Digital I/O. Its digital event stream, when there is one, is the
  // stream of kind kDigEvent in `streams`.
  uint8_t digitalModule = 34;
  uint16_t digoutProp = 53;

  std::vector<int> operators;

  const SimModule* FindModule(int id) const;
};

// Builds the layout the options describe.
SimLayout BuildSimLayout(const SimOptions& options);

// Records of the simulator's own layout for types the extension does not read.
Bytes ClockDomainRecord(uint32_t rate, const std::string& name);
Bytes OperatorDescRecord(uint32_t operatorId, const std::string& name);
Bytes StimControlRecord(uint16_t channel, const std::vector<uint32_t>& words);
Bytes InitialTrialRecord(int operatorId);

// One 52-sample spike template value (before the per-channel marker).
int SpikeTemplate(int k);

}  // namespace vornsim
