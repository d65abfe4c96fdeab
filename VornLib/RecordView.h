// Read-only views over property records and packets that know their length.
// A field that lies past the end of the bytes reads as absent (std::nullopt);
// a string field ends at its first zero byte or at the end of the bytes,
// whichever comes first. Fields are copied out, never cast in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ByteOrder.h"
#include "VornProtocol.h"

namespace vorn {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : mData(data), mSize(data ? size : 0) {}

  const uint8_t* Data() const { return mData; }
  size_t Size() const { return mSize; }
  bool Empty() const { return mSize == 0; }
  bool Has(size_t offset, size_t width) const {
    return offset <= mSize && width <= mSize - offset;
  }

  std::optional<uint8_t> U8(size_t off) const {
    if (!Has(off, 1)) return std::nullopt;
    return mData[off];
  }
  std::optional<uint16_t> U16(size_t off) const {
    if (!Has(off, 2)) return std::nullopt;
    return LoadU16(mData + off);
  }
  std::optional<uint32_t> U32(size_t off) const {
    if (!Has(off, 4)) return std::nullopt;
    return LoadU32(mData + off);
  }
  std::optional<float> F32(size_t off) const {
    if (!Has(off, 4)) return std::nullopt;
    return LoadF32(mData + off);
  }
  // A zero-terminated text field of at most maxLen bytes starting at off.
  std::optional<std::string_view> Str(size_t off, size_t maxLen = SIZE_MAX) const {
    if (off >= mSize) return std::nullopt;
    size_t limit = mSize - off;
    if (maxLen < limit) limit = maxLen;
    size_t n = 0;
    while (n < limit && mData[off + n] != 0) ++n;
    return std::string_view(reinterpret_cast<const char*>(mData + off), n);
  }

 protected:
  const uint8_t* mData = nullptr;
  size_t mSize = 0;
};

// Common 4-byte record header: vendor, type, flags, reserved.
class RecordView : public ByteView {
 public:
  using ByteView::ByteView;
  explicit RecordView(ByteView v) : ByteView(v) {}
  std::optional<uint8_t> Vendor() const { return U8(0); }
  std::optional<uint8_t> Type() const { return U8(1); }
  std::optional<uint8_t> Flags() const { return U8(2); }
  bool IsType(uint8_t type) const { return Type() == type; }
};

// VornPropertyBlockDesc (1) and VornModuleScopePropertyDesc (2) share
// offsets 5, 6 and 8.
struct BlockDescView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kItemType = 5, kItemCount = 6, kFirstItem = 8;
  static constexpr size_t kBlockName = 20;   // VornPropertyBlockDesc
  static constexpr size_t kScopeName = 12;   // VornModuleScopePropertyDesc
  std::optional<uint8_t> ItemType() const { return U8(kItemType); }
  std::optional<uint16_t> ItemCount() const { return U16(kItemCount); }
  std::optional<uint16_t> FirstItem() const { return U16(kFirstItem); }
  std::optional<std::string_view> BlockName() const { return Str(kBlockName); }
  std::optional<std::string_view> ScopeName() const { return Str(kScopeName); }
};

// VornBool (3)
struct BoolView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kValue = 4;
  std::optional<uint8_t> Value() const { return U8(kValue); }
};

// VornInt (4)
struct IntView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kValue = 4;
  std::optional<uint32_t> Value() const { return U32(kValue); }
};

// VornComboBox (7), 140 bytes
struct ComboBoxView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kSelection = 4, kFirstItem = 8, kItemCount = 10;
  std::optional<uint16_t> Selection() const { return U16(kSelection); }
  std::optional<uint16_t> FirstItem() const { return U16(kFirstItem); }
  std::optional<uint16_t> ItemCount() const { return U16(kItemCount); }
};

// VornModuleDesc (9), 344 bytes
struct ModuleDescView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kFrontEndType = 10, kDescRange = 12, kPropertyCount = 14;
  static constexpr size_t kName = 152;
  std::optional<uint16_t> FrontEndType() const { return U16(kFrontEndType); }
  std::optional<uint16_t> DescRange() const { return U16(kDescRange); }
  std::optional<uint16_t> PropertyCount() const { return U16(kPropertyCount); }
  std::optional<std::string_view> Name() const { return Str(kName); }
};

// VornProcessorDesc (12)
struct ProcessorDescView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kHighestModule = 6;
  std::optional<uint16_t> HighestModule() const { return U16(kHighestModule); }
};

// VornPhysicalChannelDesc (14)
struct PhysicalChannelView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kPort = 5, kFrontEnd = 6, kChannel = 8, kName = 32;
  std::optional<uint8_t> Port() const { return U8(kPort); }
  std::optional<uint8_t> FrontEnd() const { return U8(kFrontEnd); }
  std::optional<uint16_t> Channel() const { return U16(kChannel); }
  std::optional<std::string_view> Name() const { return Str(kName); }
};

// VornSignalDesc (17)
struct SignalDescView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kEnableIndex = 8;
  std::optional<uint16_t> EnableIndex() const { return U16(kEnableIndex); }
};

// VornOutputStreamDesc (18)
struct OutputStreamView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kStreamType = 4, kPeriod = 5, kSignalDesc = 6, kChannelCount = 8;
  static constexpr size_t kScale = 12, kLabel = 20, kLabelLen = 128, kName = 148;
  std::optional<uint8_t> StreamType() const { return U8(kStreamType); }
  std::optional<uint8_t> Period() const { return U8(kPeriod); }
  std::optional<uint16_t> SignalDesc() const { return U16(kSignalDesc); }
  std::optional<uint16_t> ChannelCount() const { return U16(kChannelCount); }
  std::optional<float> Scale() const { return F32(kScale); }
  std::optional<std::string_view> Label() const { return Str(kLabel, kLabelLen); }
  std::optional<std::string_view> Name() const { return Str(kName); }
  bool Hidden() const { return (Flags().value_or(0) & kStreamHiddenFlags) != 0; }
};

// VornComboBoxItem (23)
struct ComboItemView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kTarget = 6;
  std::optional<uint16_t> Target() const { return U16(kTarget); }
};

// VornSosFilterDesc (26)
struct SosFilterView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kLabel = 4, kLabelLen = 128;
  static constexpr size_t kCenter = 132, kLowCutoff = 136, kHighCutoff = 140;
  static constexpr size_t kCenterOrder = 144, kCenterFlags = 145, kLowOrder = 146;
  static constexpr size_t kLowFlags = 147, kHighOrder = 148, kHighFlags = 149;
  static constexpr size_t kMaxStages = 150, kNumStages = 151, kStages = 152;
  static constexpr size_t kStageBytes = 16;
  std::optional<std::string_view> Label() const { return Str(kLabel, kLabelLen); }
  std::optional<float> Center() const { return F32(kCenter); }
  std::optional<float> LowCutoff() const { return F32(kLowCutoff); }
  std::optional<float> HighCutoff() const { return F32(kHighCutoff); }
  std::optional<uint8_t> NumStages() const { return U8(kNumStages); }
  std::optional<uint8_t> MaxStages() const { return U8(kMaxStages); }
  // Number of whole stages the stored bytes actually hold.
  size_t StagesStored() const { return mSize > kStages ? (mSize - kStages) / kStageBytes : 0; }
  // Coefficient c (0 b0, 1 b1, 2 a1, 3 a2) of stage i.
  std::optional<float> Coef(size_t stage, size_t c) const {
    return F32(kStages + stage * kStageBytes + c * 4);
  }
};

// VornRecordingTrialDescriptor (21), 552 bytes
struct TrialRecordView : RecordView {
  using RecordView::RecordView;
  static constexpr size_t kStopTime = 8, kAutoIncr = 12, kIncrNum = 16;
  static constexpr size_t kFileBase = 28, kFileBaseLen = 512, kStatus = 540;
  std::optional<uint32_t> StopTime() const { return U32(kStopTime); }
  std::optional<uint32_t> AutoIncr() const { return U32(kAutoIncr); }
  std::optional<uint32_t> IncrNum() const { return U32(kIncrNum); }
  std::optional<std::string_view> FileBase() const { return Str(kFileBase, kFileBaseLen); }
  std::optional<uint32_t> Status() const { return U32(kStatus); }
};

// A received packet: header fields, and the record of a configuration packet.
struct PacketView : ByteView {
  using ByteView::ByteView;
  std::optional<uint8_t> SizeWords() const { return U8(hdr::kSize); }
  std::optional<uint8_t> Processor() const { return U8(hdr::kProcessor); }
  std::optional<uint8_t> Module() const { return U8(hdr::kModule); }
  std::optional<uint8_t> Stream() const { return U8(hdr::kStream); }
  std::optional<uint32_t> Time() const { return U32(hdr::kTime); }
  std::optional<uint8_t> TargetProcessor() const { return U8(hdr::kTargetProcessor); }
  std::optional<uint8_t> TargetModule() const { return U8(hdr::kTargetModule); }
  std::optional<uint16_t> PropertyIndex() const { return U16(hdr::kPropertyIndex); }
  std::optional<uint8_t> PayloadType() const { return U8(hdr::kPayloadType); }
  // The property record of a configuration packet (bytes 12 to the end).
  RecordView Record() const {
    if (mSize <= hdr::kRecord) return RecordView();
    return RecordView(mData + hdr::kRecord, mSize - hdr::kRecord);
  }
};

}  // namespace vorn
