// The simulated instrument: the KEL's modules with their current property
// records, the operator workstations, the stimulator and the digital I/O.
// It answers property requests, applies property sets (and reports the
// changed property again), digital output sets, stim packets and trial
// records, logs every packet it receives, and produces the data stream for
// each stretch of its clock.
//
// Ticks are the simulator's running count since the clock's last (re)start.
//
// Threads: the simulator's loop thread only. Nothing is dropped here; the
// packer sends whatever it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SimDataGenerator.h"
#include "SimLayout.h"
#include "SimLog.h"
#include "SimOperators.h"
#include "SimOptions.h"
#include "SimPacker.h"
#include "SimStimulator.h"

namespace vornsim {

struct ReceiveCounters {
  uint64_t datagrams = 0;
  uint64_t packets = 0;
  uint64_t requests = 0;
  uint64_t sets = 0;
  uint64_t digouts = 0;
  uint64_t stims = 0;
  uint64_t trials = 0;       // trial requests and records
  uint64_t other = 0;        // unknown and malformed
};

class SimInstrument {
 public:
  SimInstrument(const SimOptions& options, SimPacker& out, SimLog& log);

  // One received datagram from `from` (host-order address), its destination
  // unknown.
  void HandleDatagram(const uint8_t* data, size_t length, uint32_t from);
  // One received datagram with its sender and (if known) destination. Every
  // log line about it carries its number ("dgram", 1, 2, ... over received
  // datagrams) and its destination ("to").
  void HandleDatagram(const uint8_t* data, size_t length, const DatagramAddresses& addresses);

  // Produces the data of [Now(), to) and moves the clock to `to`.
  void Advance(uint64_t to);
  // Moves the clock to `to` without producing the data in between (the
  // simulator fell behind or was stopped).
  void Skip(uint64_t to);
  // The clock starts again at the start value: tick 0. Running trains end.
  void RestartClock();
  void SetUnknownModuleData(bool on) { mUnknownOn = on; }

  uint64_t Now() const { return mNow; }
  uint32_t WireTime() const { return mGenerator.WireTime(mNow); }
  const SimLayout& Layout() const { return mLayout; }
  const ReceiveCounters& Counters() const { return mCounters; }

  // Current state, for tests and the log.
  const Bytes* Property(int module, int index) const;
  bool StimEnabled() const { return mStimEnable; }
  uint8_t OutputLevels() const { return mOutputLevels; }
  uint16_t ParallelOutput() const { return mParallelOutput; }
  uint32_t EnableMask(size_t streamIndex) const { return mMasks[streamIndex]; }
  const SimStimulator& Stimulator() const { return mStimulator; }
  const SimOperators& Operators() const { return mOperators; }

 private:
  void HandlePacket(const uint8_t* p, size_t length, uint32_t from);
  JsonLine Line(const char* kind, const uint8_t* p, size_t length, uint32_t from);
  void AddDatagramFields(JsonLine& line) const;   // "dgram" and "to"
  void LogMalformed(const uint8_t* p, size_t length, uint32_t from, const std::string& reason);

  int HandleRequest(uint8_t processor, uint8_t module, uint16_t index);
  int AnswerModule(int module, uint16_t index);
  bool ConsumeSilence(int module);
  void EmitProperty(int module, uint16_t index);
  void EmitOperatorProperty(int operatorId, uint16_t index, const Bytes& record);

  void HandleSet(const uint8_t* p, size_t length, uint32_t from);
  void HandleDigout(const uint8_t* p, size_t length, uint32_t from);
  void HandleStim(int channel, const uint8_t* p, size_t length, uint32_t from);
  void HandleTrialRecord(int operatorId, const uint8_t* p, size_t length, uint32_t from);
  void OnBoolChanged(int module, uint16_t index);

  bool Exists(int module) const;
  bool Answers(int module) const;   // not a missing module

  SimOptions mOptions;
  SimLayout mLayout;
  SimPacker& mOut;
  SimLog& mLog;
  std::vector<std::vector<Bytes>> mProps;   // [module id][property index]
  std::vector<uint32_t> mMasks;             // per layout stream
  size_t mDiginStream = SIZE_MAX;           // layout index of the digital event stream
  std::map<uint32_t, std::pair<size_t, int>> mEnableOwners;   // (module << 16 | index) -> (stream, channel)
  std::map<int, int> mSilentLeft;           // module -> requests left unanswered (-1 always)
  SimOperators mOperators;
  SimStimulator mStimulator;
  SimDataGenerator mGenerator;
  bool mStimEnable = false;
  uint8_t mOutputLevels = 0;
  uint16_t mParallelOutput = 0;
  bool mUnknownOn = false;
  uint64_t mNow = 0;
  uint64_t mSeq = 0;
  DatagramAddresses mDatagram;              // the datagram being handled
  ReceiveCounters mCounters;
};

}  // namespace vornsim
