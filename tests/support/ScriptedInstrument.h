// ScriptedInstrument: a realistic KEL configuration as the configuration
// packets the instrument sends during discovery, and data packets shaped
// like a running instrument. Tests, the fuzzer and the benchmarks make a
// VornCache ready with it.
//
// Layout (F front ends, default 16):
//   module 0       processor "KEL": the processor descriptor (property 2), a
//                  scope block with "Stim Enable" (Bool) and "Sample Rate" (Int)
//   module 2f+1    front end f (port f/4, front end f%4, keys 32f .. 32f+31),
//                  type 1, named "front end <f>"; the stim front end is named
//                  "stim front end" and has a "Stim Control Descriptor Block".
//                  Streams: 1 "raw" (16-bit, 30 kHz), 2 "hi-res" (float,
//                  2 kHz), 3 "lfp" (16-bit, 1 kHz), all 32 channels; the stim
//                  front end adds 32 "stim" segment streams (4 .. 35).
//   module 2f+2    its processing module: 32 "spk" segment streams (1 .. 32),
//                  filters "Spike Filter" and "LFP Filter" of 3 selections.
//   module 33      analog inputs (type 4): channels 0-11 "AnalogIn", 12-15
//                  "AnalogOut"; stream 1 "raw" (16-bit, 30 kHz, 16 channels).
//   module 34      digital I/O (type 5): stream 1, the digital events
//                  ("digin"); digital outputs at property 53.
// Every signal has its enable Bool; multi-channel streams have one enable per
// channel. The processor descriptor announces exactly these modules.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "RecordBuilder.h"
#include "VornCache.h"

namespace vorn {
namespace test {

using build::Bytes;

struct InstrumentOptions {
  int frontEnds = 16;       // 1 .. 16
  int stimFrontEnd = 15;    // index of the stim front end, -1 for none
  uint8_t rawPeriod = 1;    // sample periods in clock ticks ("raw" streams)
  uint8_t hiResPeriod = 15;
  uint8_t lfpPeriod = 30;
  bool analogInputs = true;
  bool digitalIo = true;
  uint32_t time = 1000;     // time stamp of the configuration packets
};

class ScriptedInstrument {
 public:
  static constexpr int kProcessorDescProperty = 2;   // on module 0
  static constexpr int kAnalogModule = 33;
  static constexpr int kDigitalModule = 34;
  static constexpr int kRawStream = 1;
  static constexpr int kHiResStream = 2;
  static constexpr int kLfpStream = 3;
  static constexpr int kFirstStimStream = 4;    // on the stim front end
  static constexpr int kFirstSpikeStream = 1;   // on the processing module
  static constexpr int kDiginStream = 1;        // on module 34
  static constexpr int kAnalogChannels = 16;
  static constexpr int kAnalogOutputsFrom = 12;
  static constexpr float kRawScale = 0.25f;
  static constexpr float kHiResScale = 1.0f;
  static constexpr float kSpikeScale = 0.5f;
  static constexpr float kStimScale = 2.0f;

  explicit ScriptedInstrument(InstrumentOptions options = InstrumentOptions());

  const InstrumentOptions& Options() const { return mOptions; }
  // The processor descriptor, every module descriptor, then every property
  // of every module in ascending module and property order (the processor
  // descriptor again among module 0's).
  const std::vector<Bytes>& ConfigPackets() const { return mPackets; }
  // Feeds every configuration packet to the cache (which is then ready).
  void Feed(VornCache& cache) const;

  static int FrontEndModule(int f) { return 2 * f + 1; }
  int ModuleCount() const;
  // Electrode keys in the order 'elec' lists them.
  std::vector<int> ElectrodeKeys() const;
  // Property index of the stim control property of channel c on the stim front end.
  int StimControlProperty(int channel) const { return mStimControlFirst + channel; }
  int StimEnableProperty() const { return 5; }

  // ---- Data packets of a running instrument ----
  Bytes RawPacket(int f, uint32_t time, int16_t base = 0) const;
  Bytes HiResPacket(int f, uint32_t time, float base = 0.0f) const;
  Bytes LfpPacket(int f, uint32_t time, int16_t base = 0) const;
  Bytes SpikePacket(int electrodeKey, uint32_t time, int16_t base = 0) const;
  Bytes EventPacket(uint32_t time, uint16_t parallel) const;
  Bytes TimePacket(uint32_t time) const;

  // ticks of the 30 kHz clock from startTime on, every packet the instrument
  // would send for them, packed back to back (each packet starts with its
  // size byte): raw frames every tick, hi-res and lfp at their periods, a
  // spike on some channel every spikeEvery ticks, a digital event every
  // eventEvery ticks and a time packet every 30 ticks.
  Bytes DataStream(uint32_t startTime, uint32_t ticks, uint32_t spikeEvery = 8,
                   uint32_t eventEvery = 3000) const;

 private:
  void AddProcessor();
  void AddFrontEnd(int f);
  void AddProcessing(int f);
  void AddAnalog();
  void AddDigital();
  void AddModule(int module, const std::vector<Bytes>& records);

  InstrumentOptions mOptions;
  std::vector<Bytes> mModuleDescs;
  std::vector<Bytes> mProperties;
  std::vector<Bytes> mPackets;
  int mStimControlFirst = -1;
};

inline ScriptedInstrument::ScriptedInstrument(InstrumentOptions options) : mOptions(options) {
  AddProcessor();
  for (int f = 0; f < mOptions.frontEnds; ++f) {
    AddFrontEnd(f);
    AddProcessing(f);
  }
  if (mOptions.analogInputs) AddAnalog();
  if (mOptions.digitalIo) AddDigital();
  // The processor descriptor (a property of module 0) comes first: the
  // cache learns from it how many modules to wait for.
  mPackets.push_back(build::ConfigPacket(KEL_PROCESSOR, PROCESSOR_MODULE, mOptions.time,
                                         KEL_PROCESSOR, PROCESSOR_MODULE, kProcessorDescProperty,
                                         build::ProcessorDesc(static_cast<uint16_t>(ModuleCount() - 1))));
  mPackets.insert(mPackets.end(), mModuleDescs.begin(), mModuleDescs.end());
  mPackets.insert(mPackets.end(), mProperties.begin(), mProperties.end());
}

inline void ScriptedInstrument::Feed(VornCache& cache) const {
  for (const Bytes& p : mPackets) cache.ProcessPacket(p.data(), p.size());
}

inline int ScriptedInstrument::ModuleCount() const {
  return 1 + 2 * mOptions.frontEnds + (mOptions.analogInputs ? 1 : 0) +
         (mOptions.digitalIo ? 1 : 0);
}

inline std::vector<int> ScriptedInstrument::ElectrodeKeys() const {
  std::vector<int> keys;
  for (int f = 0; f < mOptions.frontEnds; ++f) {
    for (int c = 0; c < kChannelsPerFrontEnd; ++c) keys.push_back(f * kChannelsPerFrontEnd + c);
  }
  if (mOptions.analogInputs) {
    for (int c = 0; c < kAnalogOutputsFrom; ++c) keys.push_back(kAnalogInputKeyBase + c);
  }
  return keys;
}

inline void ScriptedInstrument::AddModule(int module, const std::vector<Bytes>& records) {
  const uint8_t m = static_cast<uint8_t>(module);
  const uint32_t time = module == PROCESSOR_MODULE ? mOptions.time : 0;
  mModuleDescs.push_back(build::ConfigPacket(KEL_PROCESSOR, m, time, KEL_PROCESSOR, m, 0, records[0]));
  for (size_t i = 1; i < records.size(); ++i) {
    mProperties.push_back(build::ConfigPacket(KEL_PROCESSOR, m, time, KEL_PROCESSOR, m,
                                              static_cast<uint16_t>(i), records[i]));
  }
}

namespace detail {
// A module's records under construction: slot 0 is the descriptor, filled last.
struct ModuleRecords {
  std::vector<Bytes> records{Bytes()};
  uint16_t Next() const { return static_cast<uint16_t>(records.size()); }
  uint16_t Add(Bytes r) {
    records.push_back(std::move(r));
    return static_cast<uint16_t>(records.size() - 1);
  }
  void Set(uint16_t i, Bytes r) { records[i] = std::move(r); }
};

struct StreamSpec {
  uint8_t flags, type, period;
  uint16_t channels;
  float scale;
  std::string label, name;
};

// Streams, their signals and enables. The stream, signal and enable blocks
// are written into blockSlots (stream block, signal block).
inline void AddStreams(ModuleRecords& m, uint16_t streamBlockSlot, uint16_t signalBlockSlot,
                       const std::vector<StreamSpec>& streams) {
  const uint16_t count = static_cast<uint16_t>(streams.size());
  const uint16_t streamFirst = m.Next();
  const uint16_t signalFirst = static_cast<uint16_t>(streamFirst + count);
  uint16_t enable = static_cast<uint16_t>(signalFirst + count);
  for (uint16_t i = 0; i < count; ++i) {
    const StreamSpec& s = streams[i];
    m.Add(build::OutputStream(s.flags, s.type, s.period, static_cast<uint16_t>(signalFirst + i),
                              s.channels, s.scale, s.label, s.name));
  }
  std::vector<uint16_t> enables;
  for (uint16_t i = 0; i < count; ++i) {
    enables.push_back(enable);
    enable = static_cast<uint16_t>(enable + streams[i].channels);
  }
  for (uint16_t i = 0; i < count; ++i) m.Add(build::SignalDesc(enables[i], streams[i].label));
  for (uint16_t i = 0; i < count; ++i) {
    for (uint16_t c = 0; c < streams[i].channels; ++c) m.Add(build::Bool(1));
  }
  m.Set(streamBlockSlot, build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, count, streamFirst,
                                                  "Output Stream Block"));
  m.Set(signalBlockSlot, build::PropertyBlockDesc(VORN_TYPE_SIGNAL_DESC, count, signalFirst,
                                                  "Signal Block"));
}

inline uint16_t AddFilter(ModuleRecords& m, const std::string& label, float low, float high) {
  std::vector<uint16_t> filters;
  for (int k = 0; k < 3; ++k) {
    std::vector<build::SosStage> stages;
    for (int st = 0; st <= k; ++st) {
      stages.push_back({0.2f + 0.1f * static_cast<float>(st), 0.4f, -0.5f, 0.3f});
    }
    filters.push_back(m.Add(build::SosFilter(label + " " + std::to_string(k + 1), 0.0f, low * static_cast<float>(k + 1),
                                             high, 2, 2, 4, 6, stages)));
  }
  const uint16_t firstItem = m.Next();
  for (uint16_t target : filters) m.Add(build::ComboItem(target));
  return m.Add(build::ComboBox(1, firstItem, 3));
}
}  // namespace detail

inline void ScriptedInstrument::AddProcessor() {
  detail::ModuleRecords m;
  const uint16_t scopeBlock = m.Add(Bytes());   // 1
  m.Add(build::ProcessorDesc(static_cast<uint16_t>(ModuleCount() - 1)));   // 2
  const uint16_t scopeFirst = m.Next();         // 3
  m.Add(build::ScopeDesc(VORN_TYPE_BOOL, 1, 5, "Stim Enable"));
  m.Add(build::ScopeDesc(VORN_TYPE_INT, 1, 6, "Sample Rate"));
  m.Add(build::Bool(0));        // 5: Stim Enable
  m.Add(build::Int(30000));     // 6
  m.Set(scopeBlock, build::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 2, scopeFirst,
                                             "Scope Block"));
  m.Set(0, build::ModuleDesc(VORN_FE_PROCESSOR, 2, m.Next(), "KEL"));
  AddModule(PROCESSOR_MODULE, m.records);
}

inline void ScriptedInstrument::AddFrontEnd(int f) {
  const bool stim = f == mOptions.stimFrontEnd;
  detail::ModuleRecords m;
  const uint16_t channelBlock = m.Add(Bytes());   // 1
  const uint16_t streamBlock = m.Add(Bytes());    // 2
  const uint16_t signalBlock = m.Add(Bytes());    // 3
  const uint16_t controlBlock = m.Add(Bytes());   // 4
  const uint16_t range = m.Next();                // blocks live at 1 .. 4
  const uint16_t channelFirst = m.Next();
  const uint8_t port = static_cast<uint8_t>(f / 4), frontEnd = static_cast<uint8_t>(f % 4);
  for (uint16_t c = 0; c < kChannelsPerFrontEnd; ++c) {
    m.Add(build::PhysicalChannel(0, port, frontEnd, c, "elec" + std::to_string(f * 32 + c + 1)));
  }
  m.Set(channelBlock, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, kChannelsPerFrontEnd,
                                               channelFirst, "Channel Block"));
  std::vector<detail::StreamSpec> streams = {
      {0, VORN_STREAM_TYPE_CONTINUOUS, mOptions.rawPeriod, 32, kRawScale, "Raw", "raw"},
      {0, VORN_STREAM_TYPE_FLOAT, mOptions.hiResPeriod, 32, kHiResScale, "Hi-Res", "hi-res"},
      {0, VORN_STREAM_TYPE_CONTINUOUS, mOptions.lfpPeriod, 32, kRawScale, "LFP", "lfp"},
  };
  if (stim) {
    for (int c = 0; c < kChannelsPerFrontEnd; ++c) {
      streams.push_back({0, VORN_STREAM_TYPE_SEGMENT, 1, 1, kStimScale, "Stim", "stim"});
    }
  }
  detail::AddStreams(m, streamBlock, signalBlock, streams);
  if (stim) {
    mStimControlFirst = m.Next();
    for (int c = 0; c < kChannelsPerFrontEnd; ++c) m.Add(build::Int(0));
    m.Set(controlBlock, build::PropertyBlockDesc(VORN_TYPE_INT, kChannelsPerFrontEnd,
                                                 static_cast<uint16_t>(mStimControlFirst),
                                                 "Stim Control Descriptor Block"));
  } else {
    m.Set(controlBlock, build::PropertyBlockDesc(VORN_TYPE_INT, 0, 0, "Settings Block"));
  }
  m.Set(0, build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, range, m.Next(),
                             stim ? "stim front end" : "front end " + std::to_string(f)));
  AddModule(FrontEndModule(f), m.records);
}

inline void ScriptedInstrument::AddProcessing(int f) {
  detail::ModuleRecords m;
  const uint16_t streamBlock = m.Add(Bytes());   // 1
  const uint16_t signalBlock = m.Add(Bytes());   // 2
  const uint16_t scopeBlock = m.Add(Bytes());    // 3
  const uint16_t range = scopeBlock;             // the scope block lies on the inclusive edge
  std::vector<detail::StreamSpec> streams;
  for (int c = 0; c < kChannelsPerFrontEnd; ++c) {
    streams.push_back({0, VORN_STREAM_TYPE_SEGMENT, 1, 1, kSpikeScale, "Spike", "spk"});
  }
  detail::AddStreams(m, streamBlock, signalBlock, streams);
  const uint16_t scopeFirst = m.Next();
  m.Add(Bytes());
  m.Add(Bytes());
  const uint16_t spike = detail::AddFilter(m, "spike", 250.0f, 7500.0f);
  const uint16_t lfp = detail::AddFilter(m, "lfp", 0.3f, 250.0f);
  m.Set(scopeFirst, build::ScopeDesc(VORN_TYPE_COMBO, 1, spike, "Spike Filter"));
  m.Set(static_cast<uint16_t>(scopeFirst + 1), build::ScopeDesc(VORN_TYPE_COMBO, 1, lfp, "LFP Filter"));
  m.Set(scopeBlock, build::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 2, scopeFirst,
                                             "Scope Block"));
  m.Set(0, build::ModuleDesc(VORN_FE_UNDEFINED, range, m.Next(),
                             "front end " + std::to_string(f) + " processing"));
  AddModule(FrontEndModule(f) + 1, m.records);
}

inline void ScriptedInstrument::AddAnalog() {
  detail::ModuleRecords m;
  const uint16_t channelBlock = m.Add(Bytes());
  const uint16_t streamBlock = m.Add(Bytes());
  const uint16_t signalBlock = m.Add(Bytes());
  const uint16_t range = m.Next();
  const uint16_t channelFirst = m.Next();
  for (uint16_t c = 0; c < kAnalogChannels; ++c) {
    std::string name = c < kAnalogOutputsFrom ? "AnalogIn " + std::to_string(c + 1)
                                              : "AnalogOut " + std::to_string(c - kAnalogOutputsFrom + 1);
    m.Add(build::PhysicalChannel(0, 0, 0, c, name));
  }
  m.Set(channelBlock, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, kAnalogChannels,
                                               channelFirst, "Channel Block"));
  detail::AddStreams(m, streamBlock, signalBlock,
                     {{0, VORN_STREAM_TYPE_CONTINUOUS, mOptions.rawPeriod, kAnalogChannels, kRawScale, "Raw", "raw"}});
  m.Set(0, build::ModuleDesc(VORN_FE_ANALOG_INPUTS, range, m.Next(), "analog inputs"));
  AddModule(kAnalogModule, m.records);
}

inline void ScriptedInstrument::AddDigital() {
  detail::ModuleRecords m;
  const uint16_t streamBlock = m.Add(Bytes());
  const uint16_t signalBlock = m.Add(Bytes());
  const uint16_t range = m.Next();
  detail::AddStreams(m, streamBlock, signalBlock,
                     {{0, VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, 1, 1, 1.0f, "Digital Events", "events"}});
  while (m.Next() < DIGITAL_OUTPUT_PROPERTY) m.Add(build::Int(0));
  m.Add(build::Int(0));   // 53: digital outputs
  m.Set(0, build::ModuleDesc(VORN_FE_DIGITAL_INPUTS, range, m.Next(), "digital io"));
  AddModule(kDigitalModule, m.records);
}

inline Bytes ScriptedInstrument::RawPacket(int f, uint32_t time, int16_t base) const {
  std::vector<int16_t> frame(kChannelsPerFrontEnd);
  for (int c = 0; c < kChannelsPerFrontEnd; ++c) frame[c] = static_cast<int16_t>(base + c);
  return build::ContPacket(static_cast<uint8_t>(FrontEndModule(f)), kRawStream, time, frame);
}

inline Bytes ScriptedInstrument::HiResPacket(int f, uint32_t time, float base) const {
  std::vector<float> frame(kChannelsPerFrontEnd);
  for (int c = 0; c < kChannelsPerFrontEnd; ++c) frame[c] = base + static_cast<float>(c);
  return build::FloatContPacket(static_cast<uint8_t>(FrontEndModule(f)), kHiResStream, time, frame);
}

inline Bytes ScriptedInstrument::LfpPacket(int f, uint32_t time, int16_t base) const {
  std::vector<int16_t> frame(kChannelsPerFrontEnd);
  for (int c = 0; c < kChannelsPerFrontEnd; ++c) frame[c] = static_cast<int16_t>(base - c);
  return build::ContPacket(static_cast<uint8_t>(FrontEndModule(f)), kLfpStream, time, frame);
}

inline Bytes ScriptedInstrument::SpikePacket(int electrodeKey, uint32_t time, int16_t base) const {
  std::array<int16_t, kSegmentSampleCount> samples{};
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(base + static_cast<int>(i));
  const int f = electrodeKey / kChannelsPerFrontEnd;
  const int c = electrodeKey % kChannelsPerFrontEnd;
  return build::SegmentPacket(static_cast<uint8_t>(FrontEndModule(f) + 1),
                              static_cast<uint8_t>(kFirstSpikeStream + c), time, samples);
}

inline Bytes ScriptedInstrument::EventPacket(uint32_t time, uint16_t parallel) const {
  return build::EventPacket(kDigitalModule, kDiginStream, time, 1, parallel, {1, 2, 3, 4});
}

inline Bytes ScriptedInstrument::TimePacket(uint32_t time) const {
  // A continuous packet of the processor module: it only carries the time.
  return build::ContPacket(PROCESSOR_MODULE, 1, time, {0, 0});
}

inline Bytes ScriptedInstrument::DataStream(uint32_t startTime, uint32_t ticks, uint32_t spikeEvery,
                                            uint32_t eventEvery) const {
  Bytes out;
  uint32_t spikeKey = 0;
  const int electrodes = mOptions.frontEnds * kChannelsPerFrontEnd;
  for (uint32_t i = 0; i < ticks; ++i) {
    const uint32_t t = startTime + i;
    const int16_t v = static_cast<int16_t>(t & 0x3FF);
    for (int f = 0; f < mOptions.frontEnds; ++f) {
      if (t % mOptions.rawPeriod == 0) build::Append(out, RawPacket(f, t, v));
      if (t % mOptions.hiResPeriod == 0) build::Append(out, HiResPacket(f, t, static_cast<float>(v)));
      if (t % mOptions.lfpPeriod == 0) build::Append(out, LfpPacket(f, t, v));
    }
    if (spikeEvery != 0 && electrodes != 0 && i % spikeEvery == 0) {
      build::Append(out, SpikePacket(static_cast<int>(spikeKey), t, v));
      spikeKey = (spikeKey + 37) % static_cast<uint32_t>(electrodes);
    }
    if (mOptions.digitalIo && eventEvery != 0 && i % eventEvery == 0) {
      build::Append(out, EventPacket(t, static_cast<uint16_t>(i)));
    }
    if (t % 30 == 0) build::Append(out, TimePacket(t));
  }
  return out;
}

}  // namespace test
}  // namespace vorn
