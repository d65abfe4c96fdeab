// ModuleData: everything known about one module of the KEL. The raw record
// of every property index as received, the module's output streams by name,
// its filter selections by key, and the data buffers of its streams.
//
// Threads: ProcessProperty and the buffer writers run on the listening
// thread, the queries on MATLAB's thread; all under the cache mutex. Record
// views handed out stay valid until the next configuration packet of this
// module is processed.
// When full: nothing grows per packet. The slot list is sized once by the
// module descriptor; buffers are made once per stream and never replaced;
// continuous buffers beyond the cache's memory budget are not made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ContDataBuffer.h"
#include "EventBuffer.h"
#include "RecordView.h"
#include "SegmentBuffer.h"

namespace vorn {

// The memory all continuous rings of one cache may take together. A full
// instrument (512 channels at 30 kHz and the slower streams) needs about
// 200 MB; a descriptor set asking for more than the limit gets no further
// continuous buffers.
struct BufferBudget {
  static constexpr size_t kDefaultLimit = size_t{2} << 30;   // 2 GiB
  size_t limit = kDefaultLimit;
  size_t used = 0;
};

// Where the data packets of one stream number go, precomputed whenever the
// module's stream names or buffers change.
struct StreamRoute {
  ContDataBuffer<int16_t>* cont = nullptr;   // GetContBuffer(s)
  ContDataBuffer<float>* hiRes = nullptr;    // GetFloatBuffer(s)
  SegmentBuffer* segment = nullptr;          // GetSegmentBuffer(s)
  bool highRes = true;                       // IsHighResStream(s)
};

class ModuleData {
 public:
  // moduleDesc: a VornModuleDesc record of length bytes. The slot list gets
  // the descriptor's property count; slot 0 holds the descriptor, padded with
  // zero bytes to 344. budget (optional) is shared by a cache's modules.
  ModuleData(const uint8_t* moduleDesc, size_t length, BufferBudget* budget = nullptr);
  ~ModuleData();
  ModuleData(const ModuleData&) = delete;
  ModuleData& operator=(const ModuleData&) = delete;

  // One configuration packet of this module (record at byte 12, property
  // index at bytes 10-11), length bytes long. False when it was ignored:
  // too short, wrong vendor, property index beyond the slot list, or a
  // record for slot 0 that is not a module descriptor.
  bool ProcessProperty(const uint8_t* packet, size_t length);

  // ---- Records (empty views for none) ----
  RecordView GetProperty(int n) const;
  ModuleDescView GetModuleDesc() const;
  int GetSlotCount() const { return static_cast<int>(mPropData.size()); }
  int GetReceivedCount() const { return mReceivedCount; }
  bool IsComplete() const;
  void ListMissingProperties(std::vector<int>* out) const;
  // The module descriptor's front-end type, or -1 without a descriptor.
  int GetFrontEndType() const;
  // The module descriptor's name ("" without one).
  std::string_view GetName() const;

  // The first property among indexes 1 .. descriptor range - 1 (up to and
  // including the range when inclusive) whose byte 5 equals itemType and
  // which holds the block fields (item count, first item).
  BlockDescView FindBlock(uint8_t itemType, bool inclusive = false, int* outIndex = nullptr) const;
  BlockDescView GetPhysicalChannelBlock() const { return FindBlock(VORN_TYPE_PHYSICAL_CHANNEL_DESC); }
  BlockDescView GetStreamBlock() const;
  BlockDescView GetScopeDescBlock() const {
    return FindBlock(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, true);
  }
  BlockDescView GetStimControlBlock() const;

  // Stream number s (1 .. the stream block's item count).
  OutputStreamView GetOutputStream(int s) const;
  // The enable VornBool of stream s's signal; *outProp its property index.
  BoolView GetSignalEnable(int s, int* outProp) const;
  int FindStream(std::string_view name) const;   // -1 when not registered
  void ListStreamNames(std::vector<std::string>* out) const;

  // ---- Filters ----
  static std::string FilterKey(std::string_view name);
  ComboBoxView FindFilter(std::string_view name, int* outProp = nullptr) const;
  // The VornSosFilterDesc of selection (0-based) of the named filter.
  SosFilterView GetSosFilter(std::string_view name, int selection, int* outProp) const;
  void ListFilterNames(std::vector<std::string>* out) const;

  // ---- Buffers ----
  ContDataBuffer<int16_t>* GetContBuffer(int s) const;
  ContDataBuffer<float>* GetFloatBuffer(int s) const;
  SegmentBuffer* GetSegmentBuffer(int s) const;
  EventBuffer* GetEventBuffer() const;   // none unless exactly one
  bool IsHighResStream(int s) const;
  // The precomputed routing of stream byte s; no map is walked.
  const StreamRoute& Route(uint8_t s) const { return mRoutes[s]; }

 private:
  void StoreRecord(int n, const uint8_t* record, size_t length);
  void UpdateStreamBlock();
  void RegisterStream(int n);
  void RegisterStoredStreams();
  void RegisterFilter(const RecordView& record);
  // Recomputes the route of stream number s from the queries it stands for.
  void UpdateRoute(int s);
  template <typename T>
  bool MakeContBuffer(std::map<int, std::unique_ptr<ContDataBuffer<T>>>* buffers, int s,
                      const OutputStreamView& desc);

  std::vector<std::vector<uint8_t>> mPropData;   // empty: not arrived
  std::map<std::string, int, std::less<>> mStreamNames;
  std::map<std::string, int, std::less<>> mFilterProps;
  int mReceivedCount = 0;
  std::map<int, std::unique_ptr<EventBuffer>> mEventData;
  std::map<int, std::unique_ptr<SegmentBuffer>> mSegmentBuffers;
  std::map<int, std::unique_ptr<ContDataBuffer<int16_t>>> mContBuffers;
  std::map<int, std::unique_ptr<ContDataBuffer<float>>> mFloatBuffers;

  // The stream block as last found: its property index (-1 none), first
  // item and item count.
  int mStreamBlockIndex = -1;
  uint32_t mStreamBlockFirst = 0;
  uint32_t mStreamBlockCount = 0;

  BufferBudget mOwnBudget;
  BufferBudget* mBudget;
  std::array<StreamRoute, 256> mRoutes{};
};

}  // namespace vorn
