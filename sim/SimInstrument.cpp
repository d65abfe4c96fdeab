#include "SimInstrument.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "RecordView.h"
#include "VornProtocol.h"

namespace vornsim {
using namespace vorn;

namespace {

uint32_t OwnerKey(int module, uint16_t index) {
  return (static_cast<uint32_t>(module) << 16) | index;
}

std::vector<int64_t> Words(const std::vector<uint32_t>& words) {
  return std::vector<int64_t>(words.begin(), words.end());
}

}  // namespace

SimInstrument::SimInstrument(const SimOptions& options, SimPacker& out, SimLog& log)
    : mOptions(options),
      mLayout(BuildSimLayout(options)),
      mOut(out),
      mLog(log),
      mOperators(options),
      mStimulator(mLayout.stimChannels),
      mGenerator(mLayout, options) {
  for (const SimModule& m : mLayout.modules) {
    if (mProps.size() <= m.id) mProps.resize(static_cast<size_t>(m.id) + 1);
    mProps[m.id] = m.props;
  }
  mMasks.resize(mLayout.streams.size(), 0);
  for (size_t i = 0; i < mLayout.streams.size(); ++i) {
    const SimStream& st = mLayout.streams[i];
    for (int c = 0; c < st.enableCount; ++c) {
      const uint16_t index = static_cast<uint16_t>(st.enableFirst + c);
      mEnableOwners[OwnerKey(st.module, index)] = {i, c};
      OnBoolChanged(st.module, index);
    }
    if (st.kind == StreamKind::kTime) mMasks[i] = 1;
    if (st.kind == StreamKind::kDigEvent) mDiginStream = i;
  }
  mSilentLeft = options.silentModules;
}

bool SimInstrument::Exists(int module) const {
  return module >= 0 && static_cast<size_t>(module) < mProps.size() && !mProps[static_cast<size_t>(module)].empty();
}

bool SimInstrument::Answers(int module) const {
  return Exists(module) && mOptions.missingModules.count(module) == 0;
}

const Bytes* SimInstrument::Property(int module, int index) const {
  if (!Exists(module) || index < 0) return nullptr;
  const auto& props = mProps[static_cast<size_t>(module)];
  if (static_cast<size_t>(index) >= props.size()) return nullptr;
  return &props[static_cast<size_t>(index)];
}

// ---- Clock --------------------------------------------------------------

void SimInstrument::Advance(uint64_t to) {
  if (to <= mNow) return;
  GeneratorState state;
  state.enableMasks = &mMasks;
  state.outputLevels = mOutputLevels;
  state.parallelOutput = mParallelOutput;
  state.unknownModuleOn = mUnknownOn;
  state.unknownModule = mOptions.unknownModule;
  mGenerator.Generate(mNow, to, state, mStimulator, mOut);
  mNow = to;
}

void SimInstrument::Skip(uint64_t to) {
  if (to <= mNow) return;
  // Trains keep their schedule; pulses inside the skipped stretch are
  // passed over without a segment.
  mStimulator.Pulses(mNow, to, [](int, uint64_t, const Waveform&) {});
  mNow = to;
}

void SimInstrument::RestartClock() {
  mStimulator.StopAll();
  mNow = 0;
}

// ---- Receiving ----------------------------------------------------------

void SimInstrument::HandleDatagram(const uint8_t* data, size_t length, uint32_t from) {
  DatagramAddresses addresses;
  addresses.from = from;
  HandleDatagram(data, length, addresses);
}

void SimInstrument::HandleDatagram(const uint8_t* data, size_t length,
                                   const DatagramAddresses& addresses) {
  ++mCounters.datagrams;
  mDatagram = addresses;
  const uint32_t from = addresses.from;
  if (length == 0) {
    ++mCounters.other;
    if (mLog.Enabled()) {
      JsonLine line("empty");
      line.Num("tick", static_cast<int64_t>(WireTime())).Str("from", AddressText(from));
      AddDatagramFields(line);
      mLog.Write(line);
    }
    return;
  }
  size_t offset = 0;
  while (offset < length) {
    const size_t words = data[offset];
    const size_t rest = length - offset;
    if (words == 0) {
      LogMalformed(data + offset, rest, from, "packet size 0; rest of the datagram ignored");
      return;
    }
    if (words * 4 > rest) {
      LogMalformed(data + offset, rest, from, "packet longer than the rest of the datagram");
      return;
    }
    HandlePacket(data + offset, words * 4, from);
    offset += words * 4;
  }
}

void SimInstrument::AddDatagramFields(JsonLine& line) const {
  line.Num("dgram", static_cast<int64_t>(mCounters.datagrams));
  if (mDatagram.hasTo) line.Str("to", AddressText(mDatagram.to));
}

JsonLine SimInstrument::Line(const char* kind, const uint8_t* p, size_t length, uint32_t from) {
  JsonLine line(kind);
  line.Num("tick", static_cast<int64_t>(WireTime()))
      .Num("seq", static_cast<int64_t>(mSeq))
      .Str("from", AddressText(from));
  AddDatagramFields(line);
  line.Hex("bytes", p, length);
  if (length >= 8) line.Num("hdr_time", static_cast<int64_t>(LoadU32(p + hdr::kTime)));
  if (length >= 12) {
    line.Num("target_processor", p[hdr::kTargetProcessor])
        .Num("target_module", p[hdr::kTargetModule])
        .Num("property", LoadU16(p + hdr::kPropertyIndex));
  }
  return line;
}

void SimInstrument::LogMalformed(const uint8_t* p, size_t length, uint32_t from,
                                 const std::string& reason) {
  ++mSeq;
  ++mCounters.packets;
  ++mCounters.other;
  if (!mLog.Enabled()) return;
  JsonLine line = Line("malformed", p, length, from);
  line.Str("reason", reason);
  mLog.Write(line);
}

void SimInstrument::HandlePacket(const uint8_t* p, size_t length, uint32_t from) {
  if (length < hdr::kConfigHeaderBytes) {
    LogMalformed(p, length, from, "shorter than a configuration packet");
    return;
  }
  ++mSeq;
  ++mCounters.packets;
  const uint8_t processor = p[hdr::kTargetProcessor];
  const uint8_t module = p[hdr::kTargetModule];
  const uint16_t index = LoadU16(p + hdr::kPropertyIndex);

  if (p[hdr::kStream] != 0) {
    ++mCounters.other;
    if (mLog.Enabled()) {
      JsonLine line = Line("unknown", p, length, from);
      line.Str("reason", "data packet (stream not 0)");
      mLog.Write(line);
    }
    return;
  }

  if (length == hdr::kConfigHeaderBytes) {
    const bool trial = mOperators.Has(processor) && index == OPERATOR_TRIAL_PROPERTY;
    const int answered = HandleRequest(processor, module, index);
    if (trial) {
      ++mCounters.trials;
    } else {
      ++mCounters.requests;
    }
    if (mLog.Enabled()) {
      JsonLine line = Line(trial ? "trial_request" : "request", p, length, from);
      if (trial) line.Num("operator", processor);
      line.Num("answered", answered);
      mLog.Write(line);
    }
    return;
  }

  if (processor == KEL_PROCESSOR || processor == ALL_PROCESSORS) {
    if (mLayout.stimModule >= 0 && module == mLayout.stimModule &&
        index >= mLayout.stimControlFirst &&
        index < mLayout.stimControlFirst + mLayout.stimChannels) {
      HandleStim(index - mLayout.stimControlFirst, p, length, from);
    } else if (module == mLayout.digitalModule && index == mLayout.digoutProp) {
      HandleDigout(p, length, from);
    } else {
      HandleSet(p, length, from);
    }
    return;
  }
  if (mOperators.Has(processor) && index == OPERATOR_TRIAL_PROPERTY) {
    HandleTrialRecord(processor, p, length, from);
    return;
  }
  ++mCounters.other;
  if (mLog.Enabled()) {
    JsonLine line = Line("unknown", p, length, from);
    line.Str("reason", mOperators.Has(processor) ? "not the operator's trial property"
                                                 : "no such processor");
    mLog.Write(line);
  }
}

// ---- Requests -----------------------------------------------------------

bool SimInstrument::ConsumeSilence(int module) {
  auto it = mSilentLeft.find(module);
  if (it == mSilentLeft.end() || it->second == 0) return false;
  if (it->second > 0) --it->second;
  return true;
}

int SimInstrument::AnswerModule(int module, uint16_t index) {
  if (!Answers(module)) return 0;
  const auto& props = mProps[static_cast<size_t>(module)];
  if (index == ALL_PROPERTIES) {
    if (ConsumeSilence(module)) {
      EmitProperty(module, 0);
      return 1;
    }
    for (size_t i = 0; i < props.size(); ++i) EmitProperty(module, static_cast<uint16_t>(i));
    return static_cast<int>(props.size());
  }
  if (index >= props.size()) return 0;
  if (index != 0 && ConsumeSilence(module)) return 0;
  EmitProperty(module, index);
  return 1;
}

int SimInstrument::HandleRequest(uint8_t processor, uint8_t module, uint16_t index) {
  int answered = 0;
  if (processor == KEL_PROCESSOR || processor == ALL_PROCESSORS) {
    if (module == ALL_MODULES) {
      if (index == 0) {
        // Every module descriptor, then the processor descriptor that says
        // how many modules there are.
        for (size_t m = 0; m < mProps.size(); ++m) {
          if (Answers(static_cast<int>(m))) {
            EmitProperty(static_cast<int>(m), 0);
            ++answered;
          }
        }
        if (Answers(0)) {
          EmitProperty(0, mLayout.processorDescProp);
          ++answered;
        }
      } else {
        for (size_t m = 0; m < mProps.size(); ++m) answered += AnswerModule(static_cast<int>(m), index);
      }
    } else {
      answered += AnswerModule(module, index);
    }
  }
  if (processor == ALL_PROCESSORS || mOperators.Has(processor)) {
    for (int id : mOperators.Ids()) {
      if (processor != ALL_PROCESSORS && processor != id) continue;
      for (const auto& entry : mOperators.Answer(id, module, index)) {
        EmitOperatorProperty(id, entry.first, *entry.second);
        ++answered;
      }
    }
  }
  return answered;
}

void SimInstrument::EmitProperty(int module, uint16_t index) {
  const Bytes* record = Property(module, index);
  if (record == nullptr || record->size() > kMaxRecordBytes) return;
  const size_t length = hdr::kConfigHeaderBytes + (record->size() + 3) / 4 * 4;
  uint8_t* p = mOut.Begin(length);
  p[hdr::kSize] = static_cast<uint8_t>(length / 4);
  p[hdr::kProcessor] = KEL_PROCESSOR;
  p[hdr::kModule] = static_cast<uint8_t>(module);
  p[hdr::kStream] = 0;
  StoreU32(p + hdr::kTime, WireTime());
  p[hdr::kTargetProcessor] = KEL_PROCESSOR;
  p[hdr::kTargetModule] = static_cast<uint8_t>(module);
  StoreU16(p + hdr::kPropertyIndex, index);
  std::memcpy(p + hdr::kRecord, record->data(), record->size());
  mOut.Commit();
}

void SimInstrument::EmitOperatorProperty(int operatorId, uint16_t index, const Bytes& record) {
  if (record.size() > kMaxRecordBytes) return;
  const size_t length = hdr::kConfigHeaderBytes + (record.size() + 3) / 4 * 4;
  uint8_t* p = mOut.Begin(length);
  p[hdr::kSize] = static_cast<uint8_t>(length / 4);
  p[hdr::kProcessor] = static_cast<uint8_t>(operatorId);
  p[hdr::kModule] = 0;
  p[hdr::kStream] = 0;
  StoreU32(p + hdr::kTime, WireTime());
  p[hdr::kTargetProcessor] = static_cast<uint8_t>(operatorId);
  p[hdr::kTargetModule] = 0;
  StoreU16(p + hdr::kPropertyIndex, index);
  std::memcpy(p + hdr::kRecord, record.data(), record.size());
  mOut.Commit();
}

// ---- Sets -----------------------------------------------------------------

void SimInstrument::HandleSet(const uint8_t* p, size_t length, uint32_t from) {
  const int module = p[hdr::kTargetModule];
  const uint16_t index = LoadU16(p + hdr::kPropertyIndex);
  const uint8_t* record = p + hdr::kRecord;
  const size_t recordLength = length - hdr::kRecord;
  Bytes* stored = nullptr;
  if (Exists(module) && index < mProps[static_cast<size_t>(module)].size()) {
    stored = &mProps[static_cast<size_t>(module)][index];
  }
  if (stored == nullptr) {
    ++mCounters.other;
    if (mLog.Enabled()) {
      JsonLine line = Line("unknown", p, length, from);
      line.Str("reason", Exists(module) ? "no such property" : "no such module");
      mLog.Write(line);
    }
    return;
  }
  ++mCounters.sets;
  const uint8_t type = record[1];
  std::string error;
  bool isBool = false;
  if (record[0] != VORN_VENDOR) {
    error = "vendor is not 1";
  } else if (type != (*stored)[1]) {
    error = "record type " + std::to_string(type) + " does not match the property's type " +
            std::to_string((*stored)[1]);
  } else if (type == VORN_TYPE_BOOL && recordLength <= BoolView::kValue) {
    error = "bool record too short";
  } else if (type == VORN_TYPE_BOOL) {
    isBool = true;
    (*stored)[BoolView::kValue] = record[BoolView::kValue];
    OnBoolChanged(module, index);
  } else if (type == VORN_TYPE_COMBO) {
    const ComboBoxView sent(record, recordLength);
    const ComboBoxView have(stored->data(), stored->size());
    if (!sent.Selection()) {
      error = "combo box record too short";
    } else if (*sent.Selection() >= have.ItemCount().value_or(0)) {
      error = "selection " + std::to_string(*sent.Selection()) + " is not below the item count " +
              std::to_string(have.ItemCount().value_or(0));
    } else {
      StoreU16(stored->data() + ComboBoxView::kSelection, *sent.Selection());
    }
  } else if (type == VORN_TYPE_SOS_FILTER_DESC) {
    const SosFilterView sent(record, recordLength);
    if (!sent.NumStages()) {
      error = "filter record too short";
    } else if (*sent.NumStages() > sent.StagesStored()) {
      error = "numStages " + std::to_string(*sent.NumStages()) + " beyond the record's end";
    } else if (*sent.NumStages() > *sent.MaxStages()) {
      error = "numStages " + std::to_string(*sent.NumStages()) + " above maxStages " +
              std::to_string(*sent.MaxStages());
    } else {
      stored->assign(record, record + recordLength);
    }
  } else {
    error = "read-only property";
  }
  // The instrument reports the property's (possibly unchanged) value.
  if (Answers(module)) EmitProperty(module, index);
  if (mLog.Enabled()) {
    JsonLine line = Line("set", p, length, from);
    line.Num("type", type).Hex("record", record, recordLength).Bool("applied", error.empty());
    if (!error.empty()) line.Str("error", error);
    if (isBool) line.Num("value", record[BoolView::kValue]);
    mLog.Write(line);
  }
}

void SimInstrument::OnBoolChanged(int module, uint16_t index) {
  const Bytes* record = Property(module, index);
  if (record == nullptr || record->size() <= BoolView::kValue) return;
  const bool on = (*record)[BoolView::kValue] != 0;
  if (module == PROCESSOR_MODULE && index == mLayout.stimEnableProp) {
    mStimEnable = on;
    // Switching stimulation off ends every train at once.
    if (!on) mStimulator.StopAll();
    return;
  }
  auto it = mEnableOwners.find(OwnerKey(module, index));
  if (it == mEnableOwners.end()) return;
  const uint32_t bit = it->second.second < 32 ? (1u << it->second.second) : 0u;
  uint32_t& mask = mMasks[it->second.first];
  mask = on ? (mask | bit) : (mask & ~bit);
}

void SimInstrument::HandleDigout(const uint8_t* p, size_t length, uint32_t from) {
  ++mCounters.digouts;
  const IntView sent(p + hdr::kRecord, length - hdr::kRecord);
  std::string error;
  uint32_t word = 0;
  if (sent.Vendor() != VORN_VENDOR || sent.Type() != VORN_TYPE_INT || !sent.Value()) {
    error = "not a VornInt record";
  } else {
    word = *sent.Value();
    for (int k = 0; k < 4; ++k) {
      if ((word >> (28 + k)) & 1u) {
        const uint8_t bit = static_cast<uint8_t>(1u << k);
        mOutputLevels = ((word >> (16 + k)) & 1u) ? (mOutputLevels | bit)
                                                   : static_cast<uint8_t>(mOutputLevels & ~bit);
      }
    }
    if ((word & 0x0F000000u) == 0x0F000000u) mParallelOutput = static_cast<uint16_t>(word & 0xFFFFu);
    Bytes& state = mProps[mLayout.digitalModule][mLayout.digoutProp];
    StoreU32(state.data() + IntView::kValue,
             (static_cast<uint32_t>(mOutputLevels) << 16) | mParallelOutput);
    if (Answers(mLayout.digitalModule)) EmitProperty(mLayout.digitalModule, mLayout.digoutProp);
    // The outputs are looped back to the digital inputs, while there is a
    // digital event stream and it is on.
    if (mDiginStream != SIZE_MAX && (mMasks[mDiginStream] & 1u) != 0) {
      mGenerator.EmitEvent(mNow, 2, mParallelOutput, mOutputLevels, mOut);
    }
  }
  if (mLog.Enabled()) {
    JsonLine line = Line("digout", p, length, from);
    line.Num("word", static_cast<int64_t>(word)).Bool("applied", error.empty());
    if (!error.empty()) line.Str("error", error);
    std::vector<int64_t> levels;
    for (int k = 0; k < 4; ++k) levels.push_back((mOutputLevels >> k) & 1);
    line.Array("outputs", levels).Num("parallel", mParallelOutput);
    mLog.Write(line);
  }
}

// ---- Stimulation ------------------------------------------------------------

void SimInstrument::HandleStim(int channel, const uint8_t* p, size_t length, uint32_t from) {
  ++mCounters.stims;
  std::string error;
  std::vector<uint32_t> words;
  const size_t size = length / 4;
  if (size < 8) {
    error = "stim packet without words";
  } else {
    const size_t n = size - 7;
    const uint16_t count1 = LoadU16(p + 16);
    const uint16_t count2 = LoadU16(p + 18);
    if (count1 != 2 * n || count2 != 2 * n) {
      error = "word count fields " + std::to_string(count1) + "/" + std::to_string(count2) +
              " do not match the packet size (" + std::to_string(2 * n) + ")";
    } else {
      for (size_t i = 0; i < n; ++i) words.push_back(LoadU32(p + 28 + 4 * i));
    }
  }
  StimProgram program;
  bool started = false;
  std::string refused;
  if (error.empty()) {
    program = SimStimulator::Decode(words);
    Bytes& control = mProps[static_cast<size_t>(mLayout.stimModule)]
                           [static_cast<size_t>(mLayout.stimControlFirst + channel)];
    control = StimControlRecord(static_cast<uint16_t>(channel), words);
    if (program.action > SimStimulator::kAtTime) {
      error = "unknown action " + std::to_string(program.action);
    } else if (!mStimEnable && program.repeats > 0) {
      refused = "Stim Enable is off";
    } else if (mStimulator.Apply(channel, program, mNow)) {
      started = program.repeats > 0;
    }
  }
  if (mLog.Enabled()) {
    JsonLine line = Line("stim", p, length, from);
    line.Num("module", mLayout.stimModule)
        .Num("channel", channel)
        .Num("electrode", mLayout.stimFirstElectrode + channel)
        .Array("words", Words(words));
    if (!words.empty()) {
      line.Num("header", static_cast<int64_t>(words[0]))
          .Num("action", program.action)
          .Num("period", program.period)
          .Num("repeats", program.repeats)
          .Array("segments", Words(program.segments));
    }
    line.Bool("started", started);
    if (!refused.empty()) line.Str("refused", refused);
    if (!error.empty()) line.Str("error", error);
    mLog.Write(line);
  }
}

// ---- Operators --------------------------------------------------------------

void SimInstrument::HandleTrialRecord(int operatorId, const uint8_t* p, size_t length,
                                      uint32_t from) {
  ++mCounters.trials;
  const uint8_t* record = p + hdr::kRecord;
  const size_t recordLength = length - hdr::kRecord;
  std::string error;
  const bool applied = mOperators.ApplyTrial(operatorId, record, recordLength, &error);
  // The operator reports its record again, unless it has fallen silent.
  if (applied && mOperators.Reports(operatorId)) {
    EmitOperatorProperty(operatorId, OPERATOR_TRIAL_PROPERTY, *mOperators.Trial(operatorId));
  }
  if (mLog.Enabled()) {
    const TrialRecordView view(record, recordLength);
    JsonLine line = Line("trial_record", p, length, from);
    line.Num("operator", operatorId);
    if (view.Status()) {
      line.Num("status", *view.Status())
          .Str("filebase", std::string(view.FileBase().value_or("")))
          .Num("stop_time", *view.StopTime())
          .Num("auto_incr", *view.AutoIncr())
          .Num("incr_num", *view.IncrNum());
    }
    line.Hex("record", record, recordLength).Bool("applied", applied);
    if (!applied) line.Str("error", error);
    mLog.Write(line);
  }
}

}  // namespace vornsim
