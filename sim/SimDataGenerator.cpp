#include "SimDataGenerator.h"

#include <cmath>

#include "ByteOrder.h"
#include "VornProtocol.h"

namespace vornsim {
using namespace vorn;

namespace {

constexpr uint32_t kTimePacketPeriod = 30;   // one time packet per millisecond

uint64_t FirstAtOrAfter(uint64_t from, uint64_t period, uint64_t phase) {
  uint64_t t = from - from % period + phase;
  if (t < from) t += period;
  return t;
}

uint64_t IntervalOf(double rate) {
  if (rate <= 0.0) return 0;
  const double ticks = std::floor(30000.0 / rate);
  return ticks < 1.0 ? 1 : static_cast<uint64_t>(ticks);
}

}  // namespace

SimDataGenerator::SimDataGenerator(const SimLayout& layout, const SimOptions& options)
    : mClockStart(options.clockStart),
      mSpikeInterval(IntervalOf(options.spikeRate)),
      mEventInterval(IntervalOf(options.eventRate)),
      mStimModule(layout.stimModule),
      mDigitalModule(layout.digitalModule) {
  for (size_t i = 0; i < layout.streams.size(); ++i) {
    const SimStream& st = layout.streams[i];
    StreamPlan p{};
    p.layoutIndex = i;
    p.module = st.module;
    p.number = st.number;
    p.kind = st.kind;
    p.period = st.period == 0 ? 1 : st.period;
    p.channels = st.channels;
    switch (st.kind) {
      case StreamKind::kCont16:
        p.packetBytes = (kContFrameOffset + 2u * st.channels + 3u) / 4u * 4u;
        mCont.push_back(p);
        break;
      case StreamKind::kContFloat:
        p.packetBytes = kContFrameOffset + 4u * st.channels;
        mCont.push_back(p);
        break;
      case StreamKind::kSpike:
        if (mSpikeInterval != 0) {
          p.spikePhase = (1237u * st.module + 937u * static_cast<uint64_t>(st.channel)) % mSpikeInterval;
        }
        p.spike = SpikeWaveform(st.channel);
        mSpikes.push_back(p);
        break;
      case StreamKind::kStim:
        if (st.channel >= 0) {
          if (mStimStreamOfChannel.size() <= static_cast<size_t>(st.channel)) {
            mStimStreamOfChannel.resize(static_cast<size_t>(st.channel) + 1, SIZE_MAX);
          }
          mStimStreamOfChannel[static_cast<size_t>(st.channel)] = i;
        }
        break;
      case StreamKind::kDigEvent:
        mDiginIndex = i;
        break;
      case StreamKind::kTime:
        break;
    }
  }
  mLayoutNumbers.reserve(layout.streams.size());
  for (const SimStream& st : layout.streams) mLayoutNumbers.push_back(st.number);
}

int16_t SimDataGenerator::ContSample(uint8_t module, uint8_t stream, int channel, uint32_t time) {
  const uint32_t v = (time + 97u * static_cast<uint32_t>(channel) + 1009u * stream + 31u * module) & 4095u;
  return static_cast<int16_t>(static_cast<int>(v) - 2048);
}

float SimDataGenerator::FloatSample(uint8_t module, uint8_t stream, int channel, uint32_t time) {
  return static_cast<float>(ContSample(module, stream, channel, time)) / 16.0f;
}

Waveform SimDataGenerator::SpikeWaveform(int channel) {
  Waveform w{};
  for (int k = 0; k < kSegmentSamples; ++k) {
    w[static_cast<size_t>(k)] = static_cast<int16_t>(SpikeTemplate(k) + channel);
  }
  return w;
}

void SimDataGenerator::EmitCont(const StreamPlan& s, uint32_t mask, uint64_t tick, SimPacker& out) {
  uint8_t* p = out.Begin(s.packetBytes);
  const uint32_t time = WireTime(tick);
  p[hdr::kSize] = static_cast<uint8_t>(s.packetBytes / 4);
  p[hdr::kProcessor] = KEL_PROCESSOR;
  p[hdr::kModule] = s.module;
  p[hdr::kStream] = s.number;
  StoreU32(p + hdr::kTime, time);
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_CONTINUOUS;
  uint8_t* frame = p + kContFrameOffset;
  const uint32_t base = time + 1009u * s.number + 31u * s.module;
  if (s.kind == StreamKind::kContFloat) {
    for (uint32_t c = 0; c < s.channels; ++c) {
      const bool on = c < 32 && ((mask >> c) & 1u) != 0;
      const int v = static_cast<int>((base + 97u * c) & 4095u) - 2048;
      StoreF32(frame + 4 * c, on ? static_cast<float>(v) / 16.0f : 0.0f);
    }
  } else {
    for (uint32_t c = 0; c < s.channels; ++c) {
      const bool on = c < 32 && ((mask >> c) & 1u) != 0;
      const int v = static_cast<int>((base + 97u * c) & 4095u) - 2048;
      StoreI16(frame + 2 * c, static_cast<int16_t>(on ? v : 0));
    }
  }
  out.Commit();
}

void SimDataGenerator::EmitSegment(uint8_t module, uint8_t stream, uint64_t tick, const Waveform& w,
                                   SimPacker& out) {
  uint8_t* p = out.Begin(kSegmentPacketBytes);
  p[hdr::kSize] = static_cast<uint8_t>(kSegmentPacketBytes / 4);
  p[hdr::kProcessor] = KEL_PROCESSOR;
  p[hdr::kModule] = module;
  p[hdr::kStream] = stream;
  StoreU32(p + hdr::kTime, WireTime(tick));
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_SEGMENT;
  StoreU16(p + kSegmentSampleCountOffset, kSegmentSampleCount);
  for (size_t k = 0; k < w.size(); ++k) StoreI16(p + kSegmentSamplesOffset + 2 * k, w[k]);
  out.Commit();
}

void SimDataGenerator::EmitEvent(uint64_t tick, uint8_t reason, uint16_t parallel, uint8_t levels,
                                 SimPacker& out) {
  uint8_t* p = out.Begin(kEventPacketBytes);
  p[hdr::kSize] = static_cast<uint8_t>(kEventPacketBytes / 4);
  p[hdr::kProcessor] = KEL_PROCESSOR;
  p[hdr::kModule] = mDigitalModule;
  p[hdr::kStream] = mDiginIndex == SIZE_MAX ? 1 : mLayoutNumbers[mDiginIndex];
  StoreU32(p + hdr::kTime, WireTime(tick));
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT;
  p[12] = reason;
  StoreU16(p + 14, parallel);
  for (int k = 0; k < 4; ++k) StoreU16(p + 16 + 2 * k, static_cast<uint16_t>((levels >> k) & 1u));
  out.Commit();
}

void SimDataGenerator::Generate(uint64_t from, uint64_t to, const GeneratorState& state,
                                SimStimulator& stim, SimPacker& out) {
  if (to <= from || state.enableMasks == nullptr) return;
  const std::vector<uint32_t>& masks = *state.enableMasks;

  for (uint64_t t = FirstAtOrAfter(from, kTimePacketPeriod, 0); t < to; t += kTimePacketPeriod) {
    uint8_t* p = out.Begin(12);
    p[hdr::kSize] = 3;
    p[hdr::kProcessor] = KEL_PROCESSOR;
    p[hdr::kModule] = PROCESSOR_MODULE;
    p[hdr::kStream] = 1;
    StoreU32(p + hdr::kTime, WireTime(t));
    p[hdr::kPayloadType] = VORN_STREAM_TYPE_PROPRIETARY;
    out.Commit();
  }

  if (mEventInterval != 0) {
    const bool diginOn = mDiginIndex != SIZE_MAX && (masks[mDiginIndex] & 1u) != 0;
    for (uint64_t t = FirstAtOrAfter(from, mEventInterval, 0); t < to; t += mEventInterval) {
      stim.Trigger(t);
      if (diginOn) {
        EmitEvent(t, 1, static_cast<uint16_t>((t / mEventInterval) & 0xFFFFu), state.outputLevels, out);
      }
    }
  }

  for (const StreamPlan& s : mCont) {
    const uint32_t mask = masks[s.layoutIndex];
    if (mask == 0) continue;
    for (uint64_t t = FirstAtOrAfter(from, s.period, 0); t < to; t += s.period) EmitCont(s, mask, t, out);
  }

  if (mSpikeInterval != 0) {
    for (const StreamPlan& s : mSpikes) {
      if ((masks[s.layoutIndex] & 1u) == 0) continue;
      for (uint64_t t = FirstAtOrAfter(from, mSpikeInterval, s.spikePhase); t < to; t += mSpikeInterval) {
        EmitSegment(s.module, s.number, t, s.spike, out);
      }
    }
  }

  stim.Pulses(from, to, [&](int channel, uint64_t tick, const Waveform& w) {
    if (channel < 0 || static_cast<size_t>(channel) >= mStimStreamOfChannel.size()) return;
    const size_t index = mStimStreamOfChannel[static_cast<size_t>(channel)];
    if (index == SIZE_MAX || (masks[index] & 1u) == 0 || mStimModule < 0) return;
    EmitSegment(static_cast<uint8_t>(mStimModule), mLayoutNumbers[index], tick, w, out);
  });

  if (state.unknownModuleOn) {
    for (uint64_t t = FirstAtOrAfter(from, kTimePacketPeriod, 0); t < to; t += kTimePacketPeriod) {
      uint8_t* p = out.Begin(16);
      p[hdr::kSize] = 4;
      p[hdr::kProcessor] = KEL_PROCESSOR;
      p[hdr::kModule] = static_cast<uint8_t>(state.unknownModule);
      p[hdr::kStream] = 1;
      StoreU32(p + hdr::kTime, WireTime(t));
      p[hdr::kPayloadType] = VORN_STREAM_TYPE_CONTINUOUS;
      out.Commit();
    }
  }
}

}  // namespace vornsim
