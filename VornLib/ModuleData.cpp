#include "ModuleData.h"

#include <algorithm>

namespace vorn {
namespace {

constexpr size_t kRecordHeaderBytes = 4;
// Bytes of an output stream descriptor up to the last fixed field read
// (the scale factor).
constexpr size_t kStreamDescFixedBytes = OutputStreamView::kScale + 4;
// Bytes of a block or scope descriptor up to its first-item field.
constexpr size_t kBlockFixedBytes = BlockDescView::kFirstItem + 2;
constexpr int kMaxStreamNumber = 255;   // the stream byte of a data packet

constexpr std::string_view kStimControlBlockName = "Stim Control Descriptor Block";

}  // namespace

ModuleData::ModuleData(const uint8_t* moduleDesc, size_t length, BufferBudget* budget)
    : mBudget(budget != nullptr ? budget : &mOwnBudget) {
  ModuleDescView desc(moduleDesc, length);
  mPropData.resize(desc.PropertyCount().value_or(0));
  if (!mPropData.empty()) {
    std::vector<uint8_t>& slot0 = mPropData[0];
    slot0.assign(moduleDesc, moduleDesc + desc.Size());
    if (slot0.size() < kModuleDescBytes) slot0.resize(kModuleDescBytes, 0);
    mReceivedCount = 1;
  }
}

ModuleData::~ModuleData() = default;

bool ModuleData::ProcessProperty(const uint8_t* packet, size_t length) {
  if (length < hdr::kRecord + kRecordHeaderBytes) return false;
  const uint8_t* record = packet + hdr::kRecord;
  const size_t recordLength = length - hdr::kRecord;
  if (record[0] != VORN_VENDOR) return false;
  const int n = LoadU16(packet + hdr::kPropertyIndex);
  if (n >= GetSlotCount()) return false;
  // Slot 0 is the module descriptor, and stays one.
  if (n == 0 && record[1] != VORN_TYPE_MODULE_DESC) return false;

  StoreRecord(n, record, recordLength);
  RecordView stored = GetProperty(n);

  // Registration does not depend on arrival order: a stream block that
  // arrives (or changes) after its streams registers the ones it covers.
  if (n == 0 || n == mStreamBlockIndex || stored.U8(BlockDescView::kItemType) ==
                                               uint8_t{VORN_TYPE_OUTPUT_STREAM_DESC}) {
    UpdateStreamBlock();
  }
  const uint8_t type = record[1];
  if (type == VORN_TYPE_OUTPUT_STREAM_DESC) {
    RegisterStream(n);
  } else if (type == VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC) {
    RegisterFilter(stored);
  }
  return true;
}

void ModuleData::StoreRecord(int n, const uint8_t* record, size_t length) {
  std::vector<uint8_t>& slot = mPropData[n];
  if (slot.empty()) ++mReceivedCount;
  slot.assign(record, record + length);
}

RecordView ModuleData::GetProperty(int n) const {
  if (n < 0 || n >= GetSlotCount()) return RecordView();
  const std::vector<uint8_t>& slot = mPropData[n];
  if (slot.empty()) return RecordView();
  return RecordView(slot.data(), slot.size());
}

ModuleDescView ModuleData::GetModuleDesc() const { return ModuleDescView(GetProperty(0)); }

bool ModuleData::IsComplete() const {
  return !mPropData.empty() && mReceivedCount == GetSlotCount();
}

void ModuleData::ListMissingProperties(std::vector<int>* out) const {
  for (int i = 0; i < GetSlotCount(); ++i) {
    if (mPropData[i].empty()) out->push_back(i);
  }
}

int ModuleData::GetFrontEndType() const {
  auto type = GetModuleDesc().FrontEndType();
  return type ? int{*type} : -1;
}

std::string_view ModuleData::GetName() const {
  return GetModuleDesc().Name().value_or(std::string_view());
}

BlockDescView ModuleData::FindBlock(uint8_t itemType, bool inclusive, int* outIndex) const {
  const int range = GetModuleDesc().DescRange().value_or(0);
  const int last = std::min(inclusive ? range : range - 1, GetSlotCount() - 1);
  for (int i = 1; i <= last; ++i) {
    const std::vector<uint8_t>& slot = mPropData[i];
    if (slot.size() < kBlockFixedBytes || slot[BlockDescView::kItemType] != itemType) continue;
    if (outIndex != nullptr) *outIndex = i;
    return BlockDescView(slot.data(), slot.size());
  }
  return BlockDescView();
}

BlockDescView ModuleData::GetStreamBlock() const {
  return BlockDescView(GetProperty(mStreamBlockIndex));
}

BlockDescView ModuleData::GetStimControlBlock() const {
  const int range = GetModuleDesc().DescRange().value_or(0);
  const int last = std::min(range - 1, GetSlotCount() - 1);
  for (int i = 1; i <= last; ++i) {
    BlockDescView block(GetProperty(i));
    if (block.Size() < kBlockFixedBytes) continue;
    if (block.BlockName() == kStimControlBlockName) return block;
  }
  return BlockDescView();
}

void ModuleData::UpdateStreamBlock() {
  int index = -1;
  BlockDescView block = FindBlock(VORN_TYPE_OUTPUT_STREAM_DESC, false, &index);
  const uint32_t first = block.FirstItem().value_or(0);
  const uint32_t count = block.ItemCount().value_or(0);
  if (index == mStreamBlockIndex && first == mStreamBlockFirst && count == mStreamBlockCount) {
    return;
  }
  mStreamBlockIndex = index;
  mStreamBlockFirst = first;
  mStreamBlockCount = count;
  if (index >= 0) RegisterStoredStreams();
}

void ModuleData::RegisterStoredStreams() {
  const uint64_t end = std::min<uint64_t>(uint64_t{mStreamBlockFirst} + mStreamBlockCount,
                                          static_cast<uint64_t>(GetSlotCount()));
  for (uint64_t i = mStreamBlockFirst; i < end; ++i) {
    const std::vector<uint8_t>& slot = mPropData[i];
    if (slot.size() > 1 && slot[1] == VORN_TYPE_OUTPUT_STREAM_DESC) {
      RegisterStream(static_cast<int>(i));
    }
  }
}

template <typename T>
bool ModuleData::MakeContBuffer(std::map<int, std::unique_ptr<ContDataBuffer<T>>>* buffers, int s,
                                const OutputStreamView& desc) {
  const uint32_t period = desc.Period().value_or(0);
  const uint32_t channels = desc.ChannelCount().value_or(0);
  if (period == 0) return false;   // no buffer for a stream without a rate
  const uint32_t capacity = kContRingTicks / period;
  // A frame must fit in one packet, and the rings of a cache share a budget.
  const size_t bytes = static_cast<size_t>(capacity) * channels * sizeof(T);
  if (static_cast<size_t>(channels) * sizeof(T) > kMaxPacketBytes - kContFrameOffset ||
      bytes > mBudget->limit - std::min(mBudget->limit, mBudget->used)) {
    return false;
  }
  auto buffer = std::make_unique<ContDataBuffer<T>>(capacity, channels, period,
                                                    static_cast<double>(desc.Scale().value_or(0.0f)));
  if (buffer->GetCapacity() == 0 && channels != 0) return false;   // allocation refused
  mBudget->used += buffer->GetMemoryBytes();
  (*buffers)[s] = std::move(buffer);
  return true;
}

void ModuleData::RegisterStream(int n) {
  if (mStreamBlockIndex < 0) return;
  const int s = n - static_cast<int>(mStreamBlockFirst) + 1;
  // Only streams inside the block, and numbers a data packet can carry.
  if (s < 1 || s > static_cast<int>(mStreamBlockCount) || s > kMaxStreamNumber) return;
  OutputStreamView desc(GetProperty(n));
  if (desc.Size() < kStreamDescFixedBytes) return;
  const std::string_view name = desc.Name().value_or(std::string_view());
  const std::string_view label = desc.Label().value_or(std::string_view());

  // A name that moves to s takes its routing away from its former number.
  int moved = -1;
  auto assignName = [&](std::string_view key, bool keepSmaller) {
    auto it = mStreamNames.find(key);
    if (it == mStreamNames.end()) {
      mStreamNames.emplace(std::string(key), s);
      return;
    }
    const int number = keepSmaller ? std::min(it->second, s) : s;
    if (number != it->second) moved = it->second;
    it->second = number;
  };
  switch (*desc.StreamType()) {
    case VORN_STREAM_TYPE_CONTINUOUS:
    case VORN_STREAM_TYPE_DIGEST: {
      if (mContBuffers.count(s) != 0) return;
      assignName(name.empty() ? label : name, false);
      MakeContBuffer(&mContBuffers, s, desc);
      break;
    }
    case VORN_STREAM_TYPE_FLOAT: {
      if (mFloatBuffers.count(s) != 0) return;
      MakeContBuffer(&mFloatBuffers, s, desc);
      assignName(name, false);
      break;
    }
    case VORN_STREAM_TYPE_SEGMENT: {
      if (mSegmentBuffers.count(s) != 0) return;
      mSegmentBuffers[s] = std::make_unique<SegmentBuffer>(kSegmentBufferRecords);
      assignName(name, true);
      break;
    }
    case VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT: {
      if (mEventData.count(s) != 0) return;
      mEventData[s] = std::make_unique<EventBuffer>(kEventBufferRecords);
      assignName("digin", false);
      break;
    }
    default:
      return;
  }
  UpdateRoute(s);
  if (moved >= 0) UpdateRoute(moved);
}

void ModuleData::UpdateRoute(int s) {
  if (s < 0 || s >= static_cast<int>(mRoutes.size())) return;
  StreamRoute& route = mRoutes[s];
  route.highRes = IsHighResStream(s);
  route.cont = GetContBuffer(s);
  route.hiRes = GetFloatBuffer(s);
  route.segment = GetSegmentBuffer(s);
}

void ModuleData::RegisterFilter(const RecordView& record) {
  BlockDescView desc(record);
  if (desc.ItemType() != uint8_t{VORN_TYPE_COMBO}) return;
  const std::string_view name = desc.ScopeName().value_or(std::string_view());
  if (name.find("Filter") == std::string_view::npos) return;
  auto count = desc.ItemCount();
  auto first = desc.FirstItem();
  if (!count || !first || *count != 1) return;
  mFilterProps[FilterKey(name)] = *first;
}

OutputStreamView ModuleData::GetOutputStream(int s) const {
  if (mStreamBlockIndex < 0 || s < 1 || s > static_cast<int>(mStreamBlockCount)) {
    return OutputStreamView();
  }
  OutputStreamView desc(GetProperty(static_cast<int>(mStreamBlockFirst) + s - 1));
  if (!desc.IsType(VORN_TYPE_OUTPUT_STREAM_DESC)) return OutputStreamView();
  return desc;
}

BoolView ModuleData::GetSignalEnable(int s, int* outProp) const {
  auto signalIndex = GetOutputStream(s).SignalDesc();
  if (!signalIndex) return BoolView();
  SignalDescView signal(GetProperty(*signalIndex));
  if (!signal.IsType(VORN_TYPE_SIGNAL_DESC)) return BoolView();
  auto enableIndex = signal.EnableIndex();
  if (!enableIndex) return BoolView();
  BoolView enable(GetProperty(*enableIndex));
  if (!enable.IsType(VORN_TYPE_BOOL)) return BoolView();
  if (outProp != nullptr) *outProp = *enableIndex;
  return enable;
}

int ModuleData::FindStream(std::string_view name) const {
  auto it = mStreamNames.find(name);
  return it == mStreamNames.end() ? -1 : it->second;
}

void ModuleData::ListStreamNames(std::vector<std::string>* out) const {
  for (const auto& entry : mStreamNames) out->push_back(entry.first);
}

std::string ModuleData::FilterKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  size_t cut = key.find(" filter");
  if (cut != std::string::npos) key.resize(cut);
  return key;
}

ComboBoxView ModuleData::FindFilter(std::string_view name, int* outProp) const {
  auto it = mFilterProps.find(FilterKey(name));
  if (it == mFilterProps.end()) return ComboBoxView();
  ComboBoxView combo(GetProperty(it->second));
  if (!combo.IsType(VORN_TYPE_COMBO)) return ComboBoxView();
  if (outProp != nullptr) *outProp = it->second;
  return combo;
}

SosFilterView ModuleData::GetSosFilter(std::string_view name, int selection, int* outProp) const {
  ComboBoxView combo = FindFilter(name);
  auto first = combo.FirstItem();
  auto count = combo.ItemCount();
  if (!first || !count || selection < 0 || selection >= int{*count}) return SosFilterView();
  ComboItemView item(GetProperty(int{*first} + selection));
  if (!item.IsType(VORN_TYPE_COMBO_ITEM)) return SosFilterView();
  auto target = item.Target();
  if (!target) return SosFilterView();
  SosFilterView filter(GetProperty(*target));
  if (!filter.IsType(VORN_TYPE_SOS_FILTER_DESC)) return SosFilterView();
  if (outProp != nullptr) *outProp = *target;
  return filter;
}

void ModuleData::ListFilterNames(std::vector<std::string>* out) const {
  // Keys are stored already normalised; FilterKey of a key is the key.
  for (const auto& entry : mFilterProps) out->push_back(entry.first);
}

ContDataBuffer<int16_t>* ModuleData::GetContBuffer(int s) const {
  auto it = mContBuffers.find(s);
  return it == mContBuffers.end() ? nullptr : it->second.get();
}

ContDataBuffer<float>* ModuleData::GetFloatBuffer(int s) const {
  auto it = mFloatBuffers.find(s);
  return it == mFloatBuffers.end() ? nullptr : it->second.get();
}

SegmentBuffer* ModuleData::GetSegmentBuffer(int s) const {
  auto it = mSegmentBuffers.find(s);
  return it == mSegmentBuffers.end() ? nullptr : it->second.get();
}

EventBuffer* ModuleData::GetEventBuffer() const {
  return mEventData.size() == 1 ? mEventData.begin()->second.get() : nullptr;
}

bool ModuleData::IsHighResStream(int s) const {
  for (const auto& [name, number] : mStreamNames) {
    if (number == s) return name == "hi-res";
  }
  return true;
}

}  // namespace vorn
