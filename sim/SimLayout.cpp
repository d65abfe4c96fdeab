#include "SimLayout.h"

#include <algorithm>

#include "ByteOrder.h"
#include "RecordBuilder.h"
#include "VornProtocol.h"

namespace vornsim {
namespace b = vorn::build;
using namespace vorn;

namespace {

constexpr float kMicroScale = 0.25f;
constexpr float kAnalogScale = 0.000244140625f;   // 2^-12
constexpr float kTempScale = 0.0625f;

// One continuous stream of an electrode or analog front end.
struct ContStreamDef {
  const char* name;   // empty: known by its label
  const char* label;
  uint8_t streamType;
  uint8_t period;
  uint8_t flags;
  float scale;
  bool perChannel;    // channel count = channels of the front end (else 1)
};

// Streams 1..5 of every electrode front end.
const ContStreamDef kFrontEndStreams[] = {
    {"raw", "raw", VORN_STREAM_TYPE_CONTINUOUS, 1, 0, kMicroScale, true},
    {"hi-res", "hi-res", VORN_STREAM_TYPE_FLOAT, 15, 0, 1.0f, true},
    {"lfp", "lfp", VORN_STREAM_TYPE_CONTINUOUS, 30, 0, kMicroScale, true},
    {"", "rms", VORN_STREAM_TYPE_DIGEST, 150, 0, kMicroScale, true},
    {"diag", "diag", VORN_STREAM_TYPE_CONTINUOUS, 250, 0x08, kMicroScale, true},
};
constexpr int kFrontEndStreamCount = 5;

// Streams 1..3 of the analog module.
const ContStreamDef kAnalogStreams[] = {
    {"raw", "raw", VORN_STREAM_TYPE_CONTINUOUS, 1, 0, kAnalogScale, true},
    {"lfp", "lfp", VORN_STREAM_TYPE_CONTINUOUS, 30, 0, kAnalogScale, true},
    {"temp", "temp", VORN_STREAM_TYPE_CONTINUOUS, 250, 0x04, kTempScale, false},
};
constexpr int kAnalogStreamCount = 3;

StreamKind KindOf(uint8_t streamType) {
  switch (streamType) {
    case VORN_STREAM_TYPE_FLOAT: return StreamKind::kContFloat;
    case VORN_STREAM_TYPE_SEGMENT: return StreamKind::kSpike;
    case VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT: return StreamKind::kDigEvent;
    case VORN_STREAM_TYPE_PROPRIETARY: return StreamKind::kTime;
    default: return StreamKind::kCont16;
  }
}

bool ContDefaultOn(ContStreams which, bool defaultValue) {
  switch (which) {
    case ContStreams::kAll: return true;
    case ContStreams::kNone: return false;
    case ContStreams::kDefault: break;
  }
  return defaultValue;
}

void Set(SimModule& m, size_t index, Bytes record) {
  if (m.props.size() <= index) m.props.resize(index + 1);
  m.props[index] = std::move(record);
}

// One of a front end's per-channel segment streams ("spk" or "stim"): one
// sample per frame, one enable.
SimStream ChannelSegmentStream(uint8_t module, int number, StreamKind kind, uint16_t enable,
                               int channel) {
  SimStream st;
  st.module = module;
  st.number = static_cast<uint8_t>(number);
  st.kind = kind;
  st.period = 1;
  st.channels = 1;
  st.enableFirst = enable;
  st.enableCount = 1;
  st.channel = channel;
  return st;
}

SimModule ProcessorModule(uint16_t highestModule, SimLayout& layout) {
  SimModule m;
  m.id = 0;
  m.frontEndType = VORN_FE_PROCESSOR;
  m.name = "KEL";
  Set(m, 0, b::ModuleDesc(VORN_FE_PROCESSOR, 3, 8, m.name));
  Set(m, 1, b::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 1, 3,
                                 "Module Scope Descriptor Block"));
  Set(m, 2, b::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 1, 7, "Output Stream Block"));
  Set(m, 3, b::ScopeDesc(VORN_TYPE_BOOL, 1, 6, "Stim Enable"));
  Set(m, 4, ClockDomainRecord(30000, "system clock"));
  Set(m, 5, b::ProcessorDesc(highestModule));
  Set(m, 6, b::Bool(0));
  Set(m, 7, b::OutputStream(0, VORN_STREAM_TYPE_PROPRIETARY, 30, 0, 0, 1.0f, "Time", "time"));
  SimStream time;
  time.module = 0;
  time.number = 1;
  time.kind = StreamKind::kTime;
  time.period = 30;
  layout.streams.push_back(time);
  layout.stimEnableProp = 6;
  layout.processorDescProp = 5;
  return m;
}

// The physical channel flags of a 1-based electrode: 0x04 when it is hidden.
uint8_t ChannelFlags(const SimOptions& o, int electrode) {
  return o.hiddenElectrodes.count(electrode) != 0 ? kChannelNotElectrodeFlag : uint8_t{0};
}

SimModule ElectrodeFrontEnd(const SimOptions& o, int index, bool isStim, SimLayout& layout) {
  const int C = o.channels;
  const uint8_t id = static_cast<uint8_t>(2 * index - 1);
  const uint8_t port = static_cast<uint8_t>((index - 1) / 4);
  const uint8_t frontEnd = static_cast<uint8_t>((index - 1) % 4);
  const int firstKey = ElectrodeKey(port, frontEnd, 0);
  SimModule m;
  m.id = id;
  m.frontEndType = VORN_FE_MICRO_ELECTRODES;
  m.name = isStim ? "stim front end" : "micro front end " + std::to_string(index);

  const int blocks = isStim ? 3 : 2;
  const int channelFirst = 1 + blocks;
  const int streamCount = kFrontEndStreamCount + (isStim ? C : 0);
  const int S0 = channelFirst + C;
  const int G0 = S0 + streamCount;
  const int E0 = G0 + streamCount;
  const int K0 = E0 + kFrontEndStreamCount * C + (isStim ? C : 0);
  const int count = K0 + (isStim ? C : 0);

  Set(m, 0, b::ModuleDesc(VORN_FE_MICRO_ELECTRODES, static_cast<uint16_t>(1 + blocks),
                          static_cast<uint16_t>(count), m.name));
  Set(m, 1, b::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, static_cast<uint16_t>(C),
                                 static_cast<uint16_t>(channelFirst), "Physical Channel Block"));
  Set(m, 2, b::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, static_cast<uint16_t>(streamCount),
                                 static_cast<uint16_t>(S0), "Output Stream Block"));
  if (isStim) {
    Set(m, 3, b::PropertyBlockDesc(VORN_TYPE_WORD_ARRAY, static_cast<uint16_t>(C),
                                   static_cast<uint16_t>(K0), "Stim Control Descriptor Block"));
  }
  for (int c = 0; c < C; ++c) {
    Set(m, static_cast<size_t>(channelFirst + c),
        b::PhysicalChannel(ChannelFlags(o, firstKey + c + 1), port, frontEnd, static_cast<uint16_t>(c),
                           "elec " + std::to_string(firstKey + c + 1)));
  }
  for (int s = 0; s < kFrontEndStreamCount; ++s) {
    const ContStreamDef& def = kFrontEndStreams[s];
    const uint16_t enableFirst = static_cast<uint16_t>(E0 + s * C);
    Set(m, static_cast<size_t>(S0 + s),
        b::OutputStream(def.flags, def.streamType, def.period, static_cast<uint16_t>(G0 + s),
                        static_cast<uint16_t>(C), def.scale, def.label, def.name));
    Set(m, static_cast<size_t>(G0 + s), b::SignalDesc(enableFirst, def.label));
    const bool on = ContDefaultOn(o.contStreams, s != 0 || index == 1);
    for (int c = 0; c < C; ++c) Set(m, static_cast<size_t>(enableFirst + c), b::Bool(on ? 1 : 0));
    SimStream st;
    st.module = id;
    st.number = static_cast<uint8_t>(s + 1);
    st.kind = KindOf(def.streamType);
    st.period = def.period;
    st.channels = static_cast<uint16_t>(C);
    st.enableFirst = enableFirst;
    st.enableCount = static_cast<uint16_t>(C);
    st.defaultOn = on;
    layout.streams.push_back(st);
  }
  if (isStim) {
    for (int c = 0; c < C; ++c) {
      const int s = kFrontEndStreamCount + c;
      const uint16_t enable = static_cast<uint16_t>(E0 + kFrontEndStreamCount * C + c);
      Set(m, static_cast<size_t>(S0 + s),
          b::OutputStream(0, VORN_STREAM_TYPE_SEGMENT, 1, static_cast<uint16_t>(G0 + s), 1, 1.0f,
                          "stim " + std::to_string(c + 1), "stim"));
      Set(m, static_cast<size_t>(G0 + s), b::SignalDesc(enable, "stim " + std::to_string(c + 1)));
      Set(m, enable, b::Bool(1));
      Set(m, static_cast<size_t>(K0 + c), StimControlRecord(static_cast<uint16_t>(c), {}));
      layout.streams.push_back(ChannelSegmentStream(id, s + 1, StreamKind::kStim, enable, c));
    }
    layout.stimModule = id;
    layout.stimControlFirst = static_cast<uint16_t>(K0);
    layout.stimChannels = C;
    layout.stimFirstElectrode = firstKey + 1;
  }
  return m;
}

SimModule SpikeProcessor(const SimOptions& o, int index, SimLayout& layout) {
  const int C = o.channels;
  const uint8_t id = static_cast<uint8_t>(2 * index);
  SimModule m;
  m.id = id;
  m.frontEndType = VORN_FE_UNDEFINED;
  m.name = "spike processor " + std::to_string(index);
  const int S0 = 5;
  const int G0 = S0 + C;
  const int E0 = G0 + C;
  const int B = E0 + C;
  const int count = B + 18;
  Set(m, 0, b::ModuleDesc(VORN_FE_UNDEFINED, 3, static_cast<uint16_t>(count), m.name));
  Set(m, 1, b::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, static_cast<uint16_t>(C),
                                 static_cast<uint16_t>(S0), "Output Stream Block"));
  Set(m, 2, b::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 2, 3,
                                 "Module Scope Descriptor Block"));
  Set(m, 3, b::ScopeDesc(VORN_TYPE_COMBO, 1, static_cast<uint16_t>(B), "Spike Filter"));
  Set(m, 4, b::ScopeDesc(VORN_TYPE_COMBO, 1, static_cast<uint16_t>(B + 1), "LFP Filter"));
  for (int c = 0; c < C; ++c) {
    const uint16_t enable = static_cast<uint16_t>(E0 + c);
    Set(m, static_cast<size_t>(S0 + c),
        b::OutputStream(0, VORN_STREAM_TYPE_SEGMENT, 1, static_cast<uint16_t>(G0 + c), 1,
                        kMicroScale, "spk " + std::to_string(c + 1), "spk"));
    Set(m, static_cast<size_t>(G0 + c), b::SignalDesc(enable, "spk " + std::to_string(c + 1)));
    Set(m, enable, b::Bool(1));
    layout.streams.push_back(ChannelSegmentStream(id, c + 1, StreamKind::kSpike, enable, c));
  }
  // Filters: two combo boxes, four selections each.
  Set(m, static_cast<size_t>(B), b::ComboBox(1, static_cast<uint16_t>(B + 2), 4));
  Set(m, static_cast<size_t>(B + 1), b::ComboBox(1, static_cast<uint16_t>(B + 6), 4));
  const char* spikeLabels[4] = {"none", "250 Hz HP", "750 Hz HP", "custom"};
  const char* lfpLabels[4] = {"none", "250 Hz LP", "500 Hz LP", "custom"};
  for (int k = 0; k < 4; ++k) {
    Set(m, static_cast<size_t>(B + 2 + k), b::ComboItem(static_cast<uint16_t>(B + 10 + k), spikeLabels[k]));
    Set(m, static_cast<size_t>(B + 6 + k), b::ComboItem(static_cast<uint16_t>(B + 14 + k), lfpLabels[k]));
  }
  Set(m, static_cast<size_t>(B + 10), b::SosFilter("none", 0, 0, 0, 0, 0, 0, 6, {}));
  Set(m, static_cast<size_t>(B + 11),
      b::SosFilter("250 Hz HP", 0, 250, 0, 0, 4, 0, 6,
                   {{0.875f, -1.75f, -1.71875f, 0.75f}, {1.0f, -2.0f, -1.859375f, 0.875f}}));
  Set(m, static_cast<size_t>(B + 12),
      b::SosFilter("750 Hz HP", 0, 750, 0, 0, 2, 0, 6, {{0.75f, -1.5f, -1.5f, 0.5625f}}));
  Set(m, static_cast<size_t>(B + 13), b::SosFilter("custom", 0, 0, 0, 0, 0, 0, 6, {}));
  Set(m, static_cast<size_t>(B + 14), b::SosFilter("none", 0, 0, 0, 0, 0, 0, 6, {}));
  Set(m, static_cast<size_t>(B + 15),
      b::SosFilter("250 Hz LP", 0, 0, 250, 0, 0, 2, 6, {{0.0625f, 0.125f, -1.25f, 0.5f}}));
  Set(m, static_cast<size_t>(B + 16),
      b::SosFilter("500 Hz LP", 0, 0, 500, 0, 0, 4, 6,
                   {{0.125f, 0.25f, -1.0f, 0.375f}, {0.25f, 0.5f, -0.75f, 0.25f}}));
  Set(m, static_cast<size_t>(B + 17), b::SosFilter("custom", 0, 0, 0, 0, 0, 0, 6, {}));
  return m;
}

SimModule AnalogModule(const SimOptions& o, uint8_t id, SimLayout& layout) {
  const int A = o.analogInputs;
  constexpr int kOutputs = 4;
  SimModule m;
  m.id = id;
  m.frontEndType = VORN_FE_ANALOG_INPUTS;
  m.name = "Analog I/O";
  const int S0 = 3 + A + kOutputs;
  const int G0 = S0 + kAnalogStreamCount;
  const int E0 = G0 + kAnalogStreamCount;
  const int count = E0 + 2 * A + 1;
  Set(m, 0, b::ModuleDesc(VORN_FE_ANALOG_INPUTS, 3, static_cast<uint16_t>(count), m.name));
  Set(m, 1, b::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, static_cast<uint16_t>(A + kOutputs), 3,
                                 "Physical Channel Block"));
  Set(m, 2, b::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, kAnalogStreamCount,
                                 static_cast<uint16_t>(S0), "Output Stream Block"));
  for (int c = 0; c < A; ++c) {
    Set(m, static_cast<size_t>(3 + c),
        b::PhysicalChannel(ChannelFlags(o, kAnalogInputKeyBase + c + 1), 0, 0, static_cast<uint16_t>(c),
                           "ainp " + std::to_string(c + 1)));
  }
  for (int k = 0; k < kOutputs; ++k) {
    Set(m, static_cast<size_t>(3 + A + k),
        b::PhysicalChannel(0, 0, 0, static_cast<uint16_t>(A + k), "Analog Out " + std::to_string(k + 1)));
  }
  int enable = E0;
  for (int s = 0; s < kAnalogStreamCount; ++s) {
    const ContStreamDef& def = kAnalogStreams[s];
    const int channels = def.perChannel ? A : 1;
    Set(m, static_cast<size_t>(S0 + s),
        b::OutputStream(def.flags, def.streamType, def.period, static_cast<uint16_t>(G0 + s),
                        static_cast<uint16_t>(channels), def.scale, def.label, def.name));
    Set(m, static_cast<size_t>(G0 + s), b::SignalDesc(static_cast<uint16_t>(enable), def.label));
    const bool on = ContDefaultOn(o.contStreams, s != 0);
    for (int c = 0; c < channels; ++c) Set(m, static_cast<size_t>(enable + c), b::Bool(on ? 1 : 0));
    SimStream st;
    st.module = id;
    st.number = static_cast<uint8_t>(s + 1);
    st.kind = KindOf(def.streamType);
    st.period = def.period;
    st.channels = static_cast<uint16_t>(channels);
    st.enableFirst = static_cast<uint16_t>(enable);
    st.enableCount = static_cast<uint16_t>(channels);
    st.defaultOn = on;
    layout.streams.push_back(st);
    enable += channels;
  }
  return m;
}

// Module 34. The property indexes are the same with every --no-digin: only
// the stream block's count and the records of slots 15..17 change.
SimModule DigitalModule(DiginFault fault, SimLayout& layout) {
  constexpr uint16_t kStreamDesc = 15;
  constexpr uint16_t kSignalDesc = 16;
  constexpr uint16_t kEnable = 17;
  constexpr uint16_t kFirstInputConfig = 18;
  const bool hasStream = fault != DiginFault::kStream;
  SimModule m;
  m.id = DIGITAL_IO_MODULE;
  m.frontEndType = VORN_FE_DIGITAL_INPUTS;
  m.name = "Digital I/O";
  Set(m, 0, b::ModuleDesc(VORN_FE_DIGITAL_INPUTS, 5, 54, m.name));
  Set(m, 1, b::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 10, 5, "Physical Channel Block"));
  Set(m, 2, b::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC,
                                 static_cast<uint16_t>(hasStream ? 1 : 0), kStreamDesc,
                                 "Output Stream Block"));
  Set(m, 3, b::PropertyBlockDesc(VORN_TYPE_INT, 35, kFirstInputConfig, "Input Configuration Block"));
  Set(m, 4, b::PropertyBlockDesc(VORN_TYPE_INT, 1, 53, "Digital Output Block"));
  const char* names[10] = {"parallel in",   "sma 1",         "sma 2",         "sma 3",
                           "sma 4",         "digital out 1", "digital out 2", "digital out 3",
                           "digital out 4", "parallel out"};
  for (int c = 0; c < 10; ++c) {
    Set(m, static_cast<size_t>(5 + c), b::PhysicalChannel(0, 0, 0, static_cast<uint16_t>(c), names[c]));
  }
  for (int k = kFirstInputConfig; k <= 52; ++k) Set(m, static_cast<size_t>(k), b::Int(0));
  Set(m, DIGITAL_OUTPUT_PROPERTY, b::Int(0));
  layout.digitalModule = DIGITAL_IO_MODULE;
  layout.digoutProp = DIGITAL_OUTPUT_PROPERTY;
  if (!hasStream) {
    // No digital event stream: the slots stay, as plain Ints of nothing.
    for (uint16_t k : {kStreamDesc, kSignalDesc, kEnable}) Set(m, k, b::Int(0));
    return m;
  }
  Set(m, kStreamDesc, b::OutputStream(0, VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, 1, kSignalDesc, 1,
                                      1.0f, "Digital Events", "digin"));
  // --no-digin enable: the signal descriptor names the first input
  // configuration word, an Int, so no enable Bool can be found from the
  // stream. The Bool at 17 still switches the events.
  const uint16_t enableNamed = fault == DiginFault::kEnable ? kFirstInputConfig : kEnable;
  Set(m, kSignalDesc, b::SignalDesc(enableNamed, "Digital Events"));
  Set(m, kEnable, b::Bool(1));
  SimStream st;
  st.module = DIGITAL_IO_MODULE;
  st.number = 1;
  st.kind = StreamKind::kDigEvent;
  st.period = 1;
  st.channels = 1;
  st.enableFirst = kEnable;
  st.enableCount = 1;
  layout.streams.push_back(st);
  return m;
}

SimModule FillerModule(uint8_t id) {
  SimModule m;
  m.id = id;
  m.frontEndType = VORN_FE_UNDEFINED;
  m.name = "empty slot " + std::to_string(id);
  Set(m, 0, b::ModuleDesc(VORN_FE_UNDEFINED, 1, 1, m.name));
  return m;
}

}  // namespace

const SimModule* SimLayout::FindModule(int id) const {
  if (id < 0 || static_cast<size_t>(id) >= modules.size()) return nullptr;
  return &modules[static_cast<size_t>(id)];
}

SimLayout BuildSimLayout(const SimOptions& o) {
  SimLayout layout;
  layout.highestModule = DIGITAL_IO_MODULE;
  layout.operators = o.operators;
  layout.modules.push_back(ProcessorModule(layout.highestModule, layout));
  for (int i = 1; i <= o.frontEnds; ++i) {
    layout.modules.push_back(ElectrodeFrontEnd(o, i, i == o.stimFrontEnd, layout));
    layout.modules.push_back(SpikeProcessor(o, i, layout));
  }
  int next = 2 * o.frontEnds + 1;
  if (o.analogInputs > 0) {
    layout.modules.push_back(AnalogModule(o, static_cast<uint8_t>(next), layout));
    ++next;
  }
  for (; next < DIGITAL_IO_MODULE; ++next) layout.modules.push_back(FillerModule(static_cast<uint8_t>(next)));
  layout.modules.push_back(DigitalModule(o.diginFault, layout));
  return layout;
}

Bytes ClockDomainRecord(uint32_t rate, const std::string& name) {
  Bytes r(40, 0);
  r[0] = VORN_VENDOR;
  r[1] = VORN_TYPE_CLOCK_DOMAIN_DESC;
  StoreU32(&r[4], rate);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 31), r.begin() + 8);
  return r;
}

Bytes OperatorDescRecord(uint32_t operatorId, const std::string& name) {
  Bytes r(72, 0);
  r[0] = VORN_VENDOR;
  r[1] = VORN_TYPE_OPERATOR_DESC;
  StoreU32(&r[4], operatorId);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 63), r.begin() + 8);
  return r;
}

Bytes StimControlRecord(uint16_t channel, const std::vector<uint32_t>& words) {
  const size_t n = std::min<size_t>(words.size(), (kMaxRecordBytes - 8) / 4);
  Bytes r(8 + 4 * n, 0);
  r[0] = VORN_VENDOR;
  r[1] = VORN_TYPE_WORD_ARRAY;
  StoreU16(&r[4], channel);
  StoreU16(&r[6], static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) StoreU32(&r[8 + 4 * i], words[i]);
  return r;
}

Bytes InitialTrialRecord(int operatorId) {
  std::string base = "/data/op" + std::to_string(operatorId) + "/trial";
  uint32_t autoIncr = 0;
  uint32_t incrNum = 1;
  if (operatorId == 129) {
    base = "C:\\data\\op129\\trial";
  } else if (operatorId == 131) {
    base = "/data/op131/run";
    autoIncr = 1;
    incrNum = 7;
  }
  Bytes r = b::TrialRecord(1, base, 0, autoIncr, incrNum);
  StoreU32(&r[4], static_cast<uint32_t>(operatorId));
  return r;
}

int SpikeTemplate(int k) {
  if (k >= 10 && k <= 14) return -60 * (k - 9);
  if (k >= 15 && k <= 21) return -300 + 70 * (k - 14);
  if (k >= 22 && k <= 40) return 190 - 10 * (k - 21);
  return 0;
}

}  // namespace vornsim
