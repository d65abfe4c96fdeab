#include "SimStimulator.h"

#include <algorithm>
#include <limits>

namespace vornsim {

namespace {
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
}

SimStimulator::SimStimulator(int channels) : mChannels(static_cast<size_t>(std::max(0, channels))) {}

StimProgram SimStimulator::Decode(const std::vector<uint32_t>& words) {
  StimProgram p;
  if (words.empty()) return p;
  const uint32_t header = words[0];
  p.action = header >> 28;
  p.period = (header >> 12) & 0xFFFFu;
  p.repeats = header & 0xFFFu;
  p.segments.assign(words.begin() + 1, words.end());
  p.waveform = Expand(p.segments);
  return p;
}

Waveform SimStimulator::Expand(const std::vector<uint32_t>& segments) {
  Waveform w{};
  size_t at = 0;
  for (uint32_t word : segments) {
    if (at >= w.size()) break;
    const uint32_t length = word >> 16;
    const bool enable = (word & 0x2000u) != 0;
    const bool pol = (word & 0x80u) != 0;
    const int ampl = static_cast<int>(word & 0x7Fu);
    const int16_t value = static_cast<int16_t>(enable ? (pol ? ampl : -ampl) : 0);
    for (uint32_t i = 0; i < length && at < w.size(); ++i) w[at++] = value;
  }
  return w;
}

bool SimStimulator::Apply(int channel, const StimProgram& p, uint64_t now) {
  if (channel < 0 || channel >= Channels() || p.action > kAtTime) return false;
  Channel& ch = mChannels[static_cast<size_t>(channel)];
  // A program already due (e.g. an immediate one received at this same
  // tick) takes effect before the new one is scheduled behind it.
  if (ch.hasPending && !ch.waitTrigger && ch.applyAt <= now) Start(ch, ch.applyAt);
  ch.pending = p;
  ch.hasPending = true;
  ch.waitTrigger = false;
  switch (p.action) {
    case kCurCyc:
      ch.applyAt = ch.active ? ch.start + static_cast<uint64_t>(ch.done) * ch.period : now;
      break;
    case kAllCyc:
      ch.applyAt = ch.active ? ch.start + static_cast<uint64_t>(ch.repeats) * ch.period : now;
      break;
    case kTrigger:
      ch.waitTrigger = true;
      ch.applyAt = kNever;
      break;
    default:   // immed, and at-time (the packet carries no time)
      ch.applyAt = now;
      break;
  }
  ch.applyAt = std::max(ch.applyAt, now);
  return true;
}

void SimStimulator::Start(Channel& ch, uint64_t tick) {
  const StimProgram& p = ch.pending;
  ch.active = p.repeats > 0;
  ch.start = tick;
  // A period of 0 cannot repeat: such a program is one pulse.
  ch.period = p.period;
  ch.repeats = p.period == 0 ? std::min<uint32_t>(p.repeats, 1) : p.repeats;
  ch.done = 0;
  ch.waveform = p.waveform;
  ch.hasPending = false;
}

void SimStimulator::StopAll() {
  for (Channel& ch : mChannels) ch = Channel{};
}

void SimStimulator::Trigger(uint64_t tick) {
  for (Channel& ch : mChannels) {
    if (ch.hasPending && ch.waitTrigger) {
      ch.waitTrigger = false;
      ch.applyAt = tick;
    }
  }
}

void SimStimulator::Pulses(uint64_t from, uint64_t to,
                           const std::function<void(int, uint64_t, const Waveform&)>& emit) {
  for (size_t c = 0; c < mChannels.size(); ++c) {
    Channel& ch = mChannels[c];
    for (;;) {
      const uint64_t nextPulse =
          ch.active ? ch.start + static_cast<uint64_t>(ch.done) * ch.period : kNever;
      const uint64_t nextApply = (ch.hasPending && !ch.waitTrigger) ? ch.applyAt : kNever;
      const uint64_t t = std::min(nextPulse, nextApply);
      if (t >= to) break;
      if (nextApply <= nextPulse) {
        Start(ch, t);
        continue;
      }
      if (t >= from) emit(static_cast<int>(c), t, ch.waveform);
      if (++ch.done >= ch.repeats) ch.active = false;
    }
  }
}

bool SimStimulator::Running(int channel) const {
  if (channel < 0 || channel >= Channels()) return false;
  const Channel& ch = mChannels[static_cast<size_t>(channel)];
  return ch.active || ch.hasPending;
}

}  // namespace vornsim
