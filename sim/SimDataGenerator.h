// Produces the instrument's data packets for a stretch of clock ticks: time
// packets from module 0, continuous frames (16-bit and float), spike
// segments, stim segments of running trains, periodic digital events, and
// data from an unknown module when asked to. Every value is a fixed function
// of module, stream, channel and time (sim/LAYOUT.md gives the formulas), so
// a test can predict it exactly.
//
// Ticks are the simulator's running count since the clock's last (re)start;
// the wire time is clockStart + tick (mod 2^32).
//
// Threads: the simulator's loop thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "SimLayout.h"
#include "SimPacker.h"
#include "SimStimulator.h"

namespace vornsim {

// What the generator needs to know of the instrument's current settings.
struct GeneratorState {
  const std::vector<uint32_t>* enableMasks = nullptr;  // per layout stream: bit c = channel c on
  uint8_t outputLevels = 0;       // digital outputs 1..4 in bits 0..3
  uint16_t parallelOutput = 0;
  bool unknownModuleOn = false;
  int unknownModule = 200;
};

class SimDataGenerator {
 public:
  SimDataGenerator(const SimLayout& layout, const SimOptions& options);

  // Emits every packet whose tick lies in [from, to); runs the stimulator
  // (and its triggers) over the same stretch.
  void Generate(uint64_t from, uint64_t to, const GeneratorState& state, SimStimulator& stim,
                SimPacker& out);

  // One digital event packet at tick (also used for the loop-back events).
  void EmitEvent(uint64_t tick, uint8_t reason, uint16_t parallel, uint8_t levels, SimPacker& out);

  uint32_t WireTime(uint64_t tick) const {
    return static_cast<uint32_t>(mClockStart + static_cast<uint32_t>(tick));
  }

  // Sample value of the formula, before scaling (16-bit streams).
  static int16_t ContSample(uint8_t module, uint8_t stream, int channel, uint32_t time);
  static float FloatSample(uint8_t module, uint8_t stream, int channel, uint32_t time);
  static Waveform SpikeWaveform(int channel);

 private:
  struct StreamPlan {
    size_t layoutIndex;
    uint8_t module;
    uint8_t number;
    StreamKind kind;
    uint32_t period;
    uint16_t channels;
    size_t packetBytes;
    // Spikes.
    uint64_t spikePhase;
    Waveform spike;
  };

  void EmitCont(const StreamPlan& s, uint32_t mask, uint64_t tick, SimPacker& out);
  void EmitSegment(uint8_t module, uint8_t stream, uint64_t tick, const Waveform& w, SimPacker& out);

  uint32_t mClockStart;
  uint64_t mSpikeInterval;   // 0: no spikes
  uint64_t mEventInterval;   // 0: no periodic events
  std::vector<StreamPlan> mCont;
  std::vector<StreamPlan> mSpikes;
  std::vector<size_t> mStimStreamOfChannel;   // layout index of channel c's stim stream
  int mStimModule = -1;
  size_t mDiginIndex = SIZE_MAX;              // layout index of the digin stream
  uint8_t mDigitalModule = 34;
  std::vector<uint8_t> mLayoutNumbers;        // stream number of each layout stream
};

}  // namespace vornsim
