// VornCache: the extension's picture of the instrument. The packet side
// (VornCacheProc.cpp) routes every received packet; the registry side
// (VornCache.cpp) keeps the KEL's modules, the operators, the electrode index
// and answers the queries of the gateway, the start-up and the commands.
//
// Threads: ProcessPacket runs on the listening thread with the cache mutex
// held. Every query runs on MATLAB's thread with the same mutex held, except
// IsReady, GetLatestTime and IsConfigValid, which are safe without it.
// Record views handed out stay valid until the mutex is released; callers
// copy what they keep. Nothing here blocks, sleeps or sends.
// When full: data buffers overwrite their oldest entries (see the buffers).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ModuleData.h"
#include "RecordView.h"

namespace vorn {

// Counters for diagnostics and benchmarks.
struct CacheCounters {
  uint64_t packets = 0;          // packets handed to ProcessPacket
  uint64_t malformed = 0;        // dropped: too short or breaking an invariant
  uint64_t droppedNotReady = 0;  // data packets before the cache was ready
  uint64_t noBuffer = 0;         // data for an unknown module or a stream without buffer
};

// One electrode's read of GetContDataMany: the arguments and results of one
// GetContData call.
struct ContRead {
  int electrode = 0;
  int module = 0;
  int stream = 0;
  float* out = nullptr;   // room for count values
  uint32_t values = 0;    // result: the number of values written
  bool hasTime = false;   // result: whether GetContData would have set outTime
  uint32_t time = 0;      // result: that time
};

class VornCache {
 public:
  VornCache();
  virtual ~VornCache();
  VornCache(const VornCache&) = delete;
  VornCache& operator=(const VornCache&) = delete;

  // ---- Listening thread, mutex held ----
  // One packet of a datagram; length is the packet's size byte x 4 and lies
  // wholly inside the received bytes. No field is read beyond length. Packets
  // that are too short for what they claim to be, records of another vendor,
  // segments without 52 samples and digital events without module 34 are
  // dropped (counted as malformed). Operator entries are made only for the
  // workstation ids 129 to 254.
  void ProcessPacket(const uint8_t* packet, size_t length);
  virtual void CheckReady();

  // ---- Gateway ----
  // 4 configuration changed; 0 ready; 1 no KEL time seen; 2 modules missing;
  // 5 all present but not ready; 3 properties missing. Walks the module
  // registry: call it with the mutex held.
  int GetStatus() const;
  bool IsReady() const { return mReady.load(std::memory_order_acquire); }
  bool IsConfigValid() const { return mConfigValid.load(std::memory_order_acquire); }
  uint32_t GetLatestTime() const { return mLatestTime.load(std::memory_order_relaxed); }

  // ---- Start-up ----
  bool AllModulesPresent() const;
  bool AllPropertiesPresent() const;
  std::vector<int> ListIncompleteModules() const;
  std::vector<int> ListMissingProperties(int moduleId) const;
  int GetPropertyCount(int moduleId) const;   // -1 for an unknown module
  std::map<int, std::pair<int, int>> BuildStimElectrodeMap() const;
  uint32_t GetExpectedModuleCount() const { return mExpectedModuleCount; }

  // ---- Operators ----
  int ListOperators(int* ids, int maxCount) const;
  bool HasOperator(int operatorId) const;
  // A copy of the operator's 552-byte trial record (0 = lowest id); empty
  // when there is none.
  std::vector<uint8_t> CopyOperatorTrial(int operatorId) const;
  void ClearOperatorTrial(int operatorId);

  // ---- Modules and electrodes ----
  ModuleData* GetModule(int moduleId) const;   // null when unknown
  size_t GetModuleCount() const { return mKELModules.size(); }
  bool HasElectrode(int key) const;
  int FindElectrodeModule(int key) const;      // -1 when unknown
  // The electrode's stream of that name on its module M, else on M + 1.
  // Empty view when there is none; outModule/outStream set only on success.
  OutputStreamView FindStreamForElectrode(int key, const std::string& name, int* outModule,
                                          int* outStream) const;

  // ---- Continuous, segment and event data ----
  // Reads one electrode's channel of module/stream into out (count values).
  // wantedTime 0: the latest values. Returns the number of values written.
  uint32_t GetContData(uint32_t* outTime, float* out, uint32_t count, int electrode, int module,
                       int stream, uint32_t wantedTime);
  // Every read as GetContData would do it, but the reads of one stream share
  // one pass over its ring (far less time under the lock for many
  // electrodes). A buffer warning is printed once per stream, not per read.
  void GetContDataMany(ContRead* reads, size_t count, uint32_t valuesPerRead, uint32_t wantedTime);
  // Drain the electrode's segment buffer into out (max records of 120
  // bytes); the result counts every arrival since the previous drain.
  uint32_t GetSpikeSegments(uint8_t* out, uint32_t max, int electrode);
  uint32_t GetStimSegments(uint8_t* out, uint32_t max, int electrode);
  // Drain the segment buffer of module/stream (0 when there is none).
  uint32_t GetSegments(uint8_t* out, uint32_t max, int module, int stream);
  double GetSpikeScale(int electrode) const;
  double GetStimScale(int electrode) const;
  // Drain the digital event buffer of module 34 into out (max records of 28 bytes).
  uint32_t GetDigitalEvents(uint8_t* out, uint32_t max);

  // ---- Configuration queries of the commands ----
  // Electrode keys of the odd modules whose name contains text ("" = all).
  int ListElectrodes(int32_t* out, int capacity, const std::string& text) const;
  // Stream names of the electrode's modules (names of at most 127
  // characters); -1 for an unknown electrode.
  int ListElectrodeStreams(int key, std::vector<std::string>* names, int maxNames) const;
  // The enable flag (0/1) of the electrode's named stream, or -1.
  int GetStreamEnable(int key, const std::string& name, int* outModule, int* outEnableProperty,
                      int* outChannelCount) const;
  // The enable flag of module 34's "digin" stream, or -1.
  int GetDigitalInputEnable(int* outModule, int* outEnableProperty) const;
  // Filter keys of the electrode's module M + 1, ascending; 0 when unknown.
  int ListFilterTypes(std::vector<std::string>* names, int maxNames, int key) const;
  ComboBoxView FindFilterCombo(int key, const std::string& ftype, int* outModule,
                               int* outProperty) const;
  SosFilterView GetFilterDesc(int key, const std::string& ftype, int selection, int* outModule,
                              int* outProperty) const;
  // The cached "Stim Enable" value record of module 0, or an empty view.
  BoolView FindStimEnable(int* outModule, int* outIndex) const;

  const CacheCounters& GetCounters() const { return mCounters; }
  // The memory all continuous rings may take together (see BufferBudget);
  // applies to buffers made after the call.
  void SetBufferMemoryLimit(size_t bytes) { mBudget.limit = bytes; }
  size_t GetBufferMemoryUsed() const { return mBudget.used; }

 protected:
  void BuildIndexes();
  void ProcessKelConfig(uint8_t module, const uint8_t* packet, size_t length);
  void ProcessKelData(uint8_t module, uint8_t stream, const uint8_t* packet, size_t length);
  void ProcessOperatorPacket(uint8_t processor, const uint8_t* packet, size_t length);
  // The electrode's spike (module M + 1, "spk") or stim (module M, "stim")
  // stream of its channel: false when there is none.
  bool FindSegmentStream(int electrode, bool stim, int* outModule, int* outStream) const;

  std::map<int, std::unique_ptr<ModuleData>> mKELModules;
  std::map<int, int> mElectrodeModules;
  std::atomic<uint32_t> mLatestTime{0};
  uint32_t mExpectedModuleCount = 0xFFFFFFFFu;
  std::map<int, std::unique_ptr<uint8_t[]>> mOperators;   // null: no record yet
  std::atomic<bool> mReady{false};
  std::atomic<bool> mConfigValid{true};
  CacheCounters mCounters;
  // mKELModules by id, for the packet path (no map walk per packet).
  std::array<ModuleData*, 256> mModuleIndex{};
  BufferBudget mBudget;
};

}  // namespace vorn
