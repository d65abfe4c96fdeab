#include "RecordBuilder.h"

#include <algorithm>

#include "ByteOrder.h"
#include "RecordView.h"
#include "SosFilterRecord.h"

namespace vorn {
namespace build {
namespace {

Bytes Record(uint8_t type, size_t length) {
  Bytes r((length + 3) / 4 * 4, 0);
  r[0] = VORN_VENDOR;
  r[1] = type;
  return r;
}

// Copies text into r at off, leaving room for the terminating zero within
// fieldLen bytes (or the record's end).
void PutString(Bytes& r, size_t off, const std::string& text, size_t fieldLen) {
  size_t room = std::min(fieldLen, r.size() - off);
  if (room == 0) return;
  size_t n = std::min(text.size(), room - 1);
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), r.begin() + static_cast<std::ptrdiff_t>(off));
}

Bytes DataHeader(size_t length, uint8_t module, uint8_t stream, uint32_t time) {
  Bytes p((length + 3) / 4 * 4, 0);
  p[hdr::kSize] = static_cast<uint8_t>(p.size() / 4);
  p[hdr::kProcessor] = KEL_PROCESSOR;
  p[hdr::kModule] = module;
  p[hdr::kStream] = stream;
  StoreU32(&p[hdr::kTime], time);
  return p;
}

}  // namespace

Bytes ConfigPacket(uint8_t processor, uint8_t module, uint32_t time, uint8_t targetProcessor,
                   uint8_t targetModule, uint16_t propertyIndex, const Bytes& record) {
  size_t total = hdr::kConfigHeaderBytes + record.size();
  Bytes p((total + 3) / 4 * 4, 0);
  p[hdr::kSize] = static_cast<uint8_t>(std::min<size_t>(p.size() / 4, kMaxPacketWords));
  p[hdr::kProcessor] = processor;
  p[hdr::kModule] = module;
  p[hdr::kStream] = 0;
  StoreU32(&p[hdr::kTime], time);
  p[hdr::kTargetProcessor] = targetProcessor;
  p[hdr::kTargetModule] = targetModule;
  StoreU16(&p[hdr::kPropertyIndex], propertyIndex);
  std::copy(record.begin(), record.end(), p.begin() + hdr::kRecord);
  return p;
}

Bytes ContPacket(uint8_t module, uint8_t stream, uint32_t time, const std::vector<int16_t>& frame,
                 uint16_t flags) {
  Bytes p = DataHeader(kContFrameOffset + frame.size() * 2, module, stream, time);
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_CONTINUOUS;
  StoreU16(&p[10], flags);
  for (size_t i = 0; i < frame.size(); ++i) StoreI16(&p[kContFrameOffset + 2 * i], frame[i]);
  return p;
}

Bytes FloatContPacket(uint8_t module, uint8_t stream, uint32_t time, const std::vector<float>& frame,
                      uint16_t flags) {
  Bytes p = DataHeader(kContFrameOffset + frame.size() * 4, module, stream, time);
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_CONTINUOUS;
  StoreU16(&p[10], flags);
  for (size_t i = 0; i < frame.size(); ++i) StoreF32(&p[kContFrameOffset + 4 * i], frame[i]);
  return p;
}

Bytes SegmentPacket(uint8_t module, uint8_t stream, uint32_t time,
                    const std::array<int16_t, kSegmentSampleCount>& samples) {
  Bytes p = DataHeader(kSegmentPacketBytes, module, stream, time);
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_SEGMENT;
  StoreU16(&p[kSegmentSampleCountOffset], kSegmentSampleCount);
  for (size_t i = 0; i < samples.size(); ++i) StoreI16(&p[kSegmentSamplesOffset + 2 * i], samples[i]);
  return p;
}

Bytes EventPacket(uint8_t module, uint8_t stream, uint32_t time, uint8_t reason, uint16_t parallel,
                  const std::array<uint16_t, 4>& sma) {
  Bytes p = DataHeader(kEventPacketBytes, module, stream, time);
  p[hdr::kPayloadType] = VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT;
  p[12] = reason;
  StoreU16(&p[14], parallel);
  for (size_t i = 0; i < 4; ++i) StoreU16(&p[16 + 2 * i], sma[i]);
  return p;
}

void Append(Bytes& datagram, const Bytes& packet) {
  datagram.insert(datagram.end(), packet.begin(), packet.end());
}

Bytes ModuleDesc(uint16_t frontEndType, uint16_t descRange, uint16_t propertyCount,
                 const std::string& name) {
  Bytes r = Record(VORN_TYPE_MODULE_DESC, kModuleDescBytes);
  StoreU16(&r[ModuleDescView::kFrontEndType], frontEndType);
  StoreU16(&r[ModuleDescView::kDescRange], descRange);
  StoreU16(&r[ModuleDescView::kPropertyCount], propertyCount);
  PutString(r, ModuleDescView::kName, name, kModuleDescBytes - ModuleDescView::kName);
  return r;
}

Bytes ProcessorDesc(uint16_t highestModule) {
  Bytes r = Record(VORN_TYPE_PROCESSOR_DESC, 64);
  StoreU16(&r[ProcessorDescView::kHighestModule], highestModule);
  PutString(r, 16, "KEL", 48);
  return r;
}

static Bytes BlockLike(uint8_t type, size_t length, uint8_t itemType, uint16_t itemCount,
                       uint16_t firstItem, size_t nameOffset, const std::string& name) {
  Bytes r = Record(type, length);
  r[BlockDescView::kItemType] = itemType;
  StoreU16(&r[BlockDescView::kItemCount], itemCount);
  StoreU16(&r[BlockDescView::kFirstItem], firstItem);
  PutString(r, nameOffset, name, length - nameOffset);
  return r;
}

Bytes PropertyBlockDesc(uint8_t itemType, uint16_t itemCount, uint16_t firstItem,
                        const std::string& name) {
  return BlockLike(VORN_TYPE_PROPERTY_BLOCK_DESC, 84, itemType, itemCount, firstItem,
                   BlockDescView::kBlockName, name);
}

Bytes ScopeDesc(uint8_t itemType, uint16_t itemCount, uint16_t firstItem, const std::string& name) {
  return BlockLike(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 76, itemType, itemCount, firstItem,
                   BlockDescView::kScopeName, name);
}

Bytes Bool(uint8_t value) {
  Bytes r = Record(VORN_TYPE_BOOL, 8);
  r[BoolView::kValue] = value;
  return r;
}

Bytes Int(uint32_t value) {
  Bytes r = Record(VORN_TYPE_INT, 20);
  StoreU32(&r[IntView::kValue], value);
  return r;
}

Bytes ComboBox(uint16_t selection, uint16_t firstItem, uint16_t itemCount) {
  Bytes r = Record(VORN_TYPE_COMBO, kComboBoxBytes);
  StoreU16(&r[ComboBoxView::kSelection], selection);
  StoreU16(&r[ComboBoxView::kFirstItem], firstItem);
  StoreU16(&r[ComboBoxView::kItemCount], itemCount);
  return r;
}

Bytes ComboItem(uint16_t target, const std::string& name) {
  Bytes r = Record(VORN_TYPE_COMBO_ITEM, 72);
  StoreU16(&r[ComboItemView::kTarget], target);
  PutString(r, 8, name, 64);
  return r;
}

Bytes PhysicalChannel(uint8_t flags, uint8_t port, uint8_t frontEnd, uint16_t channel,
                      const std::string& name) {
  Bytes r = Record(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 64);
  r[2] = flags;
  r[PhysicalChannelView::kPort] = port;
  r[PhysicalChannelView::kFrontEnd] = frontEnd;
  StoreU16(&r[PhysicalChannelView::kChannel], channel);
  PutString(r, PhysicalChannelView::kName, name, 32);
  return r;
}

Bytes SignalDesc(uint16_t enableIndex, const std::string& name) {
  Bytes r = Record(VORN_TYPE_SIGNAL_DESC, 48);
  StoreU16(&r[SignalDescView::kEnableIndex], enableIndex);
  PutString(r, 16, name, 32);
  return r;
}

Bytes OutputStream(uint8_t flags, uint8_t streamType, uint8_t period, uint16_t signalDesc,
                   uint16_t channelCount, float scale, const std::string& label,
                   const std::string& name) {
  Bytes r = Record(VORN_TYPE_OUTPUT_STREAM_DESC, OutputStreamView::kName + 32);
  r[2] = flags;
  r[OutputStreamView::kStreamType] = streamType;
  r[OutputStreamView::kPeriod] = period;
  StoreU16(&r[OutputStreamView::kSignalDesc], signalDesc);
  StoreU16(&r[OutputStreamView::kChannelCount], channelCount);
  StoreF32(&r[OutputStreamView::kScale], scale);
  PutString(r, OutputStreamView::kLabel, label, OutputStreamView::kLabelLen);
  PutString(r, OutputStreamView::kName, name, 32);
  return r;
}

Bytes SosFilter(const std::string& label, float center, float lowCutoff, float highCutoff,
                uint8_t centerOrder, uint8_t lowOrder, uint8_t highOrder, uint8_t maxStages,
                const std::vector<SosStage>& stages) {
  SosFilterRecord r;
  r.label = label;
  r.center = center;
  r.lowCutoff = lowCutoff;
  r.highCutoff = highCutoff;
  r.centerOrder = centerOrder;
  r.lowOrder = lowOrder;
  r.highOrder = highOrder;
  r.maxStages = maxStages;
  for (const SosStage& s : stages) r.stages.push_back({s.b0, s.b1, s.a1, s.a2});
  return r.Encode(kSosFilterHeaderBytes + stages.size() * kSosStageBytes);
}

Bytes TrialRecord(uint32_t status, const std::string& fileBase, uint32_t stopTime,
                  uint32_t autoIncr, uint32_t incrNum) {
  Bytes r = Record(VORN_TYPE_RECORDING_TRIAL_DESC, kTrialRecordBytes);
  StoreU32(&r[TrialRecordView::kStopTime], stopTime);
  StoreU32(&r[TrialRecordView::kAutoIncr], autoIncr);
  StoreU32(&r[TrialRecordView::kIncrNum], incrNum);
  PutString(r, TrialRecordView::kFileBase, fileBase, TrialRecordView::kFileBaseLen);
  StoreU32(&r[TrialRecordView::kStatus], status);
  return r;
}

}  // namespace build
}  // namespace vorn
