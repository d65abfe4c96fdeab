// The stimulator of the stim front end: one pulse train per channel, set by
// stim packets (a stim header word and segment words), with the header's
// action deciding when a new program replaces the running one. Each pulse of
// a running train yields one 52-sample waveform segment.
//
// Ticks here are the simulator's own running count since the clock's last
// (re)start, not the 32-bit wire time.
//
// Threads: the simulator's loop thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace vornsim {

constexpr int kSegmentSamples = 52;
using Waveform = std::array<int16_t, kSegmentSamples>;

struct StimProgram {
  uint32_t action = 0;    // header bits 31..28
  uint32_t period = 0;    // samples between pulses (bits 27..12)
  uint32_t repeats = 0;   // pulses (bits 11..0); 0 stops
  std::vector<uint32_t> segments;
  Waveform waveform{};
};

class SimStimulator {
 public:
  enum Action : uint32_t { kImmed = 0, kCurCyc = 1, kAllCyc = 2, kTrigger = 3, kAtTime = 4 };

  explicit SimStimulator(int channels);

  // Decodes a word list (header word first; at least one word).
  static StimProgram Decode(const std::vector<uint32_t>& words);
  // The segment words expanded on the sample grid: each word gives `length`
  // samples of enable ? (pol ? +ampl : -ampl) : 0; the rest is 0.
  static Waveform Expand(const std::vector<uint32_t>& segments);

  // Schedules program p on channel c, received at tick now. False for an
  // unknown action or channel (nothing changes).
  bool Apply(int channel, const StimProgram& p, uint64_t now);
  // Ends every train and forgets every scheduled program.
  void StopAll();
  // A digital input trigger at tick: starts programs waiting for one.
  void Trigger(uint64_t tick);
  // Calls emit(channel, tick, waveform) for every pulse in [from, to), in
  // time order per channel; pulses before `from` (a skipped stretch of
  // time) are passed over silently.
  void Pulses(uint64_t from, uint64_t to,
              const std::function<void(int, uint64_t, const Waveform&)>& emit);

  bool Running(int channel) const;
  int Channels() const { return static_cast<int>(mChannels.size()); }

 private:
  struct Channel {
    bool active = false;
    uint64_t start = 0;
    uint32_t period = 0;
    uint32_t repeats = 0;
    uint32_t done = 0;
    Waveform waveform{};
    bool hasPending = false;
    bool waitTrigger = false;
    uint64_t applyAt = 0;
    StimProgram pending;
  };
  // The pending program replaces the running train at tick.
  static void Start(Channel& ch, uint64_t tick);
  std::vector<Channel> mChannels;
};

}  // namespace vornsim
