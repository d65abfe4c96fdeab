// The registry side of the cache: modules, readiness, the electrode index,
// operators, and the queries of the gateway, the start-up and the commands.
#include "VornCache.h"

#include <algorithm>
#include <cstring>

namespace vorn {
namespace {

constexpr size_t kMaxNameChars = 127;   // names are handed out in 128-byte slots
constexpr int kChannelMask = kChannelsPerFrontEnd - 1;

std::string Truncated(std::string_view name) {
  return std::string(name.substr(0, std::min(name.size(), kMaxNameChars)));
}

// Appends at most maxNames of the names (each cut to a name slot) and
// returns how many.
int AppendNames(const std::vector<std::string>& all, std::vector<std::string>* names,
                int maxNames) {
  int n = 0;
  for (const std::string& name : all) {
    if (n >= maxNames) break;
    names->push_back(Truncated(name));
    ++n;
  }
  return n;
}

// A physical channel record with every field the index reads, or an empty view.
PhysicalChannelView ChannelRecord(const ModuleData& data, int index) {
  PhysicalChannelView channel(data.GetProperty(index));
  if (!channel.IsType(VORN_TYPE_PHYSICAL_CHANNEL_DESC) ||
      !channel.Has(PhysicalChannelView::kChannel, 2)) {
    return PhysicalChannelView();
  }
  return channel;
}

int FrontEndKey(const PhysicalChannelView& channel) {
  return ElectrodeKey(*channel.Port(), *channel.FrontEnd(), *channel.Channel());
}

}  // namespace

VornCache::VornCache() = default;

VornCache::~VornCache() = default;

// ---- Gateway ----------------------------------------------------------------

int VornCache::GetStatus() const {
  if (!IsConfigValid()) return 4;
  if (IsReady()) return 0;
  if (GetLatestTime() == 0) return 1;
  if (!AllModulesPresent()) return 2;
  if (AllPropertiesPresent()) return 5;
  return 3;
}

// ---- Start-up -----------------------------------------------------------------

bool VornCache::AllModulesPresent() const {
  return mExpectedModuleCount == mKELModules.size();
}

bool VornCache::AllPropertiesPresent() const {
  if (!AllModulesPresent()) return false;
  for (const auto& entry : mKELModules) {
    if (!entry.second->IsComplete()) return false;
  }
  return true;
}

std::vector<int> VornCache::ListIncompleteModules() const {
  std::vector<int> ids;
  for (const auto& [id, data] : mKELModules) {
    if (!data->IsComplete()) ids.push_back(id);
  }
  return ids;
}

std::vector<int> VornCache::ListMissingProperties(int moduleId) const {
  std::vector<int> missing;
  if (const ModuleData* data = GetModule(moduleId)) data->ListMissingProperties(&missing);
  return missing;
}

int VornCache::GetPropertyCount(int moduleId) const {
  const ModuleData* data = GetModule(moduleId);
  return data != nullptr ? data->GetSlotCount() : -1;
}

void VornCache::CheckReady() {
  if (!AllModulesPresent() || !AllPropertiesPresent()) return;
  // The index is complete before anyone can see the ready flag.
  BuildIndexes();
  mReady.store(true, std::memory_order_release);
}

void VornCache::BuildIndexes() {
  for (const auto& [id, data] : mKELModules) {
    const int frontEnd = data->GetFrontEndType();
    const bool electrodes = frontEnd == VORN_FE_MICRO_ELECTRODES ||
                            frontEnd == VORN_FE_SURFACE_ELECTRODES;
    const bool analog = frontEnd == VORN_FE_ANALOG_INPUTS;
    if (!electrodes && !analog) continue;
    BlockDescView block = data->GetPhysicalChannelBlock();
    if (block.Empty()) continue;
    const int first = *block.FirstItem();
    const int count = *block.ItemCount();
    // Entries beyond the slot list have no record: ChannelRecord skips them.
    for (int i = 0; i < count; ++i) {
      PhysicalChannelView channel = ChannelRecord(*data, first + i);
      if (channel.Empty()) continue;
      if (electrodes) {
        mElectrodeModules[FrontEndKey(channel)] = id;
      } else {
        std::string_view name = channel.Name().value_or(std::string_view());
        if (name.find("Out") != std::string_view::npos) continue;
        mElectrodeModules[kAnalogInputKeyBase + *channel.Channel()] = id;
      }
    }
  }
}

std::map<int, std::pair<int, int>> VornCache::BuildStimElectrodeMap() const {
  std::map<int, std::pair<int, int>> electrodes;
  for (const auto& [id, data] : mKELModules) {
    if (data->GetFrontEndType() != VORN_FE_MICRO_ELECTRODES) continue;
    if (data->GetName() != "stim front end") continue;
    BlockDescView channels = data->GetPhysicalChannelBlock();
    BlockDescView control = data->GetStimControlBlock();
    if (channels.Empty() || control.Empty()) continue;
    PhysicalChannelView firstChannel = ChannelRecord(*data, *channels.FirstItem());
    if (firstChannel.Empty()) continue;
    const int base = FrontEndKey(firstChannel);
    const int first = *control.FirstItem();
    const int count = *control.ItemCount();
    for (int i = 0; i < count; ++i) {
      // A stim property beyond the module's slot list does not exist.
      if (first + i >= data->GetSlotCount()) break;
      electrodes[base + i] = {id, first + i};
    }
  }
  return electrodes;
}

// ---- Operators ----------------------------------------------------------------

int VornCache::ListOperators(int* ids, int maxCount) const {
  int n = 0;
  for (const auto& entry : mOperators) {
    if (n >= maxCount) break;
    ids[n++] = entry.first;
  }
  return n;
}

bool VornCache::HasOperator(int operatorId) const { return mOperators.count(operatorId) != 0; }

std::vector<uint8_t> VornCache::CopyOperatorTrial(int operatorId) const {
  if (mOperators.empty()) return {};
  auto it = operatorId == 0 ? mOperators.begin() : mOperators.find(operatorId);
  if (it == mOperators.end() || !it->second) return {};
  return std::vector<uint8_t>(it->second.get(), it->second.get() + kTrialRecordBytes);
}

void VornCache::ClearOperatorTrial(int operatorId) {
  if (mOperators.empty()) return;
  auto it = operatorId == 0 ? mOperators.begin() : mOperators.find(operatorId);
  if (it != mOperators.end()) it->second.reset();
}

// ---- Modules and electrodes ----------------------------------------------------

ModuleData* VornCache::GetModule(int moduleId) const {
  auto it = mKELModules.find(moduleId);
  return it == mKELModules.end() ? nullptr : it->second.get();
}

bool VornCache::HasElectrode(int key) const { return mElectrodeModules.count(key) != 0; }

int VornCache::FindElectrodeModule(int key) const {
  auto it = mElectrodeModules.find(key);
  return it == mElectrodeModules.end() ? -1 : it->second;
}

OutputStreamView VornCache::FindStreamForElectrode(int key, const std::string& name,
                                                   int* outModule, int* outStream) const {
  const int m = FindElectrodeModule(key);
  if (m < 0) return OutputStreamView();
  int module = m;
  const ModuleData* data = GetModule(module);
  int s = data != nullptr ? data->FindStream(name) : -1;
  if (s < 0) {
    module = m + 1;
    data = GetModule(module);
    s = data != nullptr ? data->FindStream(name) : -1;
  }
  if (s < 0) return OutputStreamView();
  if (outModule != nullptr) *outModule = module;
  if (outStream != nullptr) *outStream = s;
  return data->GetOutputStream(s);
}

// ---- Continuous, segment and event data ------------------------------------------

uint32_t VornCache::GetContData(uint32_t* outTime, float* out, uint32_t count, int electrode,
                                int module, int stream, uint32_t wantedTime) {
  ContRead read;
  read.electrode = electrode;
  read.module = module;
  read.stream = stream;
  read.out = out;
  GetContDataMany(&read, 1, count, wantedTime);
  if (read.hasTime) *outTime = read.time;
  return read.values;
}

namespace {

// The reads of one continuous buffer, done in one pass.
template <typename T>
void ReadGroup(const ContDataBuffer<T>& buffer, ContRead* const* reads, size_t n, uint32_t count,
               uint32_t wantedTime) {
  std::vector<float*> outs(n);
  std::vector<uint32_t> channels(n);
  for (size_t i = 0; i < n; ++i) {
    outs[i] = reads[i]->out;
    channels[i] = static_cast<uint32_t>(reads[i]->electrode);
  }
  uint32_t firstTime = 0;
  uint32_t values;
  if (wantedTime == 0) {
    values = buffer.ReadLatestChannels(&firstTime, outs.data(), channels.data(), n, count, true);
  } else {
    values = buffer.ReadFromChannels(outs.data(), wantedTime, channels.data(), n, count, true);
    firstTime = wantedTime;
  }
  for (size_t i = 0; i < n; ++i) {
    ContRead& read = *reads[i];
    const bool carried = buffer.CarriesChannel(channels[i]);
    read.values = carried ? values : 0;
    if (wantedTime == 0) {
      read.hasTime = true;
      read.time = carried ? firstTime : buffer.GetLastTimestamp();
    } else if (carried && values != 0) {
      read.hasTime = true;
      read.time = firstTime;
    }
  }
}

}  // namespace

void VornCache::GetContDataMany(ContRead* reads, size_t count, uint32_t valuesPerRead,
                                uint32_t wantedTime) {
  // Group the reads by buffer, keeping each group's reads in call order.
  struct Group {
    const void* buffer;
    bool isFloat;
    std::vector<ContRead*> reads;
  };
  std::vector<Group> groups;
  for (size_t i = 0; i < count; ++i) {
    ContRead& read = reads[i];
    read.values = 0;
    read.hasTime = false;
    const ModuleData* data = GetModule(read.module);
    if (data == nullptr) continue;
    auto type = data->GetOutputStream(read.stream).StreamType();
    const void* buffer = nullptr;
    bool isFloat = false;
    if (type == uint8_t{VORN_STREAM_TYPE_CONTINUOUS} || type == uint8_t{VORN_STREAM_TYPE_DIGEST}) {
      buffer = data->GetContBuffer(read.stream);
    } else if (type == uint8_t{VORN_STREAM_TYPE_FLOAT}) {
      buffer = data->GetFloatBuffer(read.stream);
      isFloat = true;
    }
    if (buffer == nullptr) continue;
    auto it = std::find_if(groups.begin(), groups.end(),
                           [buffer](const Group& g) { return g.buffer == buffer; });
    if (it == groups.end()) {
      groups.push_back(Group{buffer, isFloat, {}});
      it = groups.end() - 1;
    }
    it->reads.push_back(&read);
  }
  for (const Group& group : groups) {
    if (group.isFloat) {
      ReadGroup(*static_cast<const ContDataBuffer<float>*>(group.buffer), group.reads.data(),
                group.reads.size(), valuesPerRead, wantedTime);
    } else {
      ReadGroup(*static_cast<const ContDataBuffer<int16_t>*>(group.buffer), group.reads.data(),
                group.reads.size(), valuesPerRead, wantedTime);
    }
  }
}

bool VornCache::FindSegmentStream(int electrode, bool stim, int* outModule, int* outStream) const {
  const int m = FindElectrodeModule(electrode);
  if (m < 0) return false;
  const int module = stim ? m : m + 1;
  const ModuleData* data = GetModule(module);
  if (data == nullptr) return false;
  const int first = data->FindStream(stim ? "stim" : "spk");
  if (first < 0) return false;
  *outModule = module;
  *outStream = first + (electrode & kChannelMask);
  return true;
}

uint32_t VornCache::GetSegments(uint8_t* out, uint32_t max, int module, int stream) {
  const ModuleData* data = GetModule(module);
  SegmentBuffer* buffer = data != nullptr ? data->GetSegmentBuffer(stream) : nullptr;
  return buffer != nullptr ? buffer->Drain(out, max) : 0;
}

uint32_t VornCache::GetSpikeSegments(uint8_t* out, uint32_t max, int electrode) {
  int module = 0, stream = 0;
  if (!FindSegmentStream(electrode, false, &module, &stream)) return 0;
  return GetSegments(out, max, module, stream);
}

uint32_t VornCache::GetStimSegments(uint8_t* out, uint32_t max, int electrode) {
  int module = 0, stream = 0;
  if (!FindSegmentStream(electrode, true, &module, &stream)) return 0;
  return GetSegments(out, max, module, stream);
}

double VornCache::GetSpikeScale(int electrode) const {
  int module = 0, stream = 0;
  if (!FindSegmentStream(electrode, false, &module, &stream)) return 0.0;
  return GetModule(module)->GetOutputStream(stream).Scale().value_or(0.0f);
}

double VornCache::GetStimScale(int electrode) const {
  int module = 0, stream = 0;
  if (!FindSegmentStream(electrode, true, &module, &stream)) return 0.0;
  return GetModule(module)->GetOutputStream(stream).Scale().value_or(0.0f);
}

uint32_t VornCache::GetDigitalEvents(uint8_t* out, uint32_t max) {
  const ModuleData* data = GetModule(DIGITAL_IO_MODULE);
  EventBuffer* buffer = data != nullptr ? data->GetEventBuffer() : nullptr;
  return buffer != nullptr ? buffer->Drain(out, max) : 0;
}

// ---- Configuration queries of the commands ------------------------------------------

int VornCache::ListElectrodes(int32_t* out, int capacity, const std::string& text) const {
  int n = 0;
  for (const auto& [id, data] : mKELModules) {
    if (id % 2 == 0) continue;
    if (!text.empty() && data->GetName().find(text) == std::string_view::npos) continue;
    BlockDescView block = data->GetPhysicalChannelBlock();
    if (block.Empty()) continue;
    const bool analog = data->GetFrontEndType() == VORN_FE_ANALOG_INPUTS;
    const int first = *block.FirstItem();
    const int count = *block.ItemCount();
    for (int i = 0; i < count; ++i) {
      if (n >= capacity) return n;
      PhysicalChannelView channel = ChannelRecord(*data, first + i);
      if (channel.Empty()) continue;
      if ((channel.Flags().value_or(0) & kChannelNotElectrodeFlag) != 0) continue;
      if (analog) {
        std::string_view name = channel.Name().value_or(std::string_view());
        if (name.find("Out") != std::string_view::npos) continue;
        out[n++] = kAnalogInputKeyBase + *channel.Channel();
      } else {
        out[n++] = FrontEndKey(channel);
      }
    }
  }
  return n;
}

int VornCache::ListElectrodeStreams(int key, std::vector<std::string>* names, int maxNames) const {
  const int m = FindElectrodeModule(key);
  if (m < 0) return -1;
  std::vector<std::string> all;
  const ModuleData* data = GetModule(m);
  if (data != nullptr) data->ListStreamNames(&all);
  if (data == nullptr || data->GetFrontEndType() != VORN_FE_ANALOG_INPUTS) {
    if (const ModuleData* next = GetModule(m + 1)) next->ListStreamNames(&all);
  }
  return AppendNames(all, names, maxNames);
}

int VornCache::GetStreamEnable(int key, const std::string& name, int* outModule,
                               int* outEnableProperty, int* outChannelCount) const {
  int module = -1;
  int s = -1;
  const OutputStreamView desc = FindStreamForElectrode(key, name, &module, &s);
  if (desc.Empty()) return -1;
  const ModuleData* data = GetModule(module);
  const std::string_view streamName = desc.Name().value_or(std::string_view());
  int channelStream = s;
  if (streamName == "spk" || streamName == "stim") channelStream += key & kChannelMask;
  int enableProperty = 0;
  BoolView enable = data->GetSignalEnable(channelStream, &enableProperty);
  auto value = enable.Value();
  if (!value) return -1;
  if (outModule != nullptr) *outModule = module;
  if (outEnableProperty != nullptr) *outEnableProperty = enableProperty;
  if (outChannelCount != nullptr) *outChannelCount = desc.ChannelCount().value_or(0);
  return *value != 0 ? 1 : 0;
}

int VornCache::GetDigitalInputEnable(int* outModule, int* outEnableProperty) const {
  const ModuleData* data = GetModule(DIGITAL_IO_MODULE);
  if (data == nullptr) return -1;
  const int s = data->FindStream("digin");
  if (s < 0) return -1;
  int enableProperty = 0;
  auto value = data->GetSignalEnable(s, &enableProperty).Value();
  if (!value) return -1;
  if (outModule != nullptr) *outModule = DIGITAL_IO_MODULE;
  if (outEnableProperty != nullptr) *outEnableProperty = enableProperty;
  return *value != 0 ? 1 : 0;
}

int VornCache::ListFilterTypes(std::vector<std::string>* names, int maxNames, int key) const {
  const int m = FindElectrodeModule(key);
  if (m < 0) return 0;
  const ModuleData* data = GetModule(m + 1);
  if (data == nullptr) return 0;
  std::vector<std::string> all;
  data->ListFilterNames(&all);
  return AppendNames(all, names, maxNames);
}

ComboBoxView VornCache::FindFilterCombo(int key, const std::string& ftype, int* outModule,
                                        int* outProperty) const {
  const int m = FindElectrodeModule(key);
  if (m < 0) return ComboBoxView();
  const ModuleData* data = GetModule(m + 1);
  if (data == nullptr) return ComboBoxView();
  int property = 0;
  ComboBoxView combo = data->FindFilter(ftype, &property);
  if (combo.Empty()) return combo;
  if (outModule != nullptr) *outModule = m + 1;
  if (outProperty != nullptr) *outProperty = property;
  return combo;
}

SosFilterView VornCache::GetFilterDesc(int key, const std::string& ftype, int selection,
                                       int* outModule, int* outProperty) const {
  const int m = FindElectrodeModule(key);
  if (m < 0) return SosFilterView();
  const ModuleData* data = GetModule(m + 1);
  if (data == nullptr) return SosFilterView();
  int property = 0;
  SosFilterView filter = data->GetSosFilter(ftype, selection, &property);
  if (filter.Empty()) return filter;
  if (outModule != nullptr) *outModule = m + 1;
  if (outProperty != nullptr) *outProperty = property;
  return filter;
}

BoolView VornCache::FindStimEnable(int* outModule, int* outIndex) const {
  const ModuleData* data = GetModule(PROCESSOR_MODULE);
  if (data == nullptr) return BoolView();
  BlockDescView block = data->GetScopeDescBlock();
  if (block.Empty()) return BoolView();
  const int first = *block.FirstItem();
  const int count = *block.ItemCount();
  for (int k = 0; k < count; ++k) {
    BlockDescView desc(data->GetProperty(first + k));
    if (desc.ItemType() != uint8_t{VORN_TYPE_BOOL}) continue;
    if (desc.ScopeName() != std::string_view("Stim Enable")) continue;
    // One switch per setting; a descriptor that says otherwise is not ours.
    auto itemCount = desc.ItemCount();
    auto valueIndex = desc.FirstItem();
    if (itemCount != uint16_t{1} || !valueIndex) continue;
    BoolView value(data->GetProperty(*valueIndex));
    if (!value.IsType(VORN_TYPE_BOOL) || !value.Value()) continue;
    if (outModule != nullptr) *outModule = PROCESSOR_MODULE;
    if (outIndex != nullptr) *outIndex = *valueIndex;
    return value;
  }
  return BoolView();
}

}  // namespace vorn
