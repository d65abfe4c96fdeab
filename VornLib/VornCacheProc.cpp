// The packet side of the cache: every packet of a received datagram is
// routed here by its header. Every byte is untrusted: each field is read
// only after the packet's length has been checked to hold it. The data path
// walks no map and allocates nothing.
#include "VornCache.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"

namespace vorn {
namespace {

constexpr size_t kRecordTypeOffset = hdr::kRecord + 1;    // byte 13
constexpr size_t kRecordVendorOffset = hdr::kRecord;      // byte 12
// Processor descriptor: the highest module id at record offset 6.
constexpr size_t kHighestModuleOffset = hdr::kRecord + ProcessorDescView::kHighestModule;
// Module descriptor fields read before its ModuleData exists (property count).
constexpr size_t kModuleDescFixedBytes = hdr::kRecord + ModuleDescView::kPropertyCount + 2;
constexpr size_t kContFlagsOffset = 10;

}  // namespace

void VornCache::ProcessPacket(const uint8_t* packet, size_t length) {
  ++mCounters.packets;
  if (length < hdr::kHeaderBytes) {
    ++mCounters.malformed;
    return;
  }
  const uint8_t processor = packet[hdr::kProcessor];
  const uint8_t module = packet[hdr::kModule];
  const uint8_t stream = packet[hdr::kStream];

  if (processor == KEL_PROCESSOR) {
    if (module == PROCESSOR_MODULE) {
      mLatestTime.store(LoadU32(packet + hdr::kTime), std::memory_order_relaxed);
    }
    if (stream != 0) {
      ProcessKelData(module, stream, packet, length);
      return;
    }
    ProcessKelConfig(module, packet, length);
  } else {
    ProcessOperatorPacket(processor, packet, length);
  }
  if (!IsReady()) CheckReady();
}

void VornCache::ProcessKelConfig(uint8_t module, const uint8_t* packet, size_t length) {
  // A record needs its header, and comes from our vendor.
  if (length < hdr::kRecord + 4 || packet[kRecordVendorOffset] != VORN_VENDOR) {
    ++mCounters.malformed;
    return;
  }
  ModuleData* data = mModuleIndex[module];
  if (data != nullptr) {
    if (!data->ProcessProperty(packet, length)) ++mCounters.malformed;
  } else if (IsReady()) {
    // A module the cache does not hold has announced itself.
    mReady.store(false, std::memory_order_release);
  }
  const uint8_t type = packet[kRecordTypeOffset];
  if (type == VORN_TYPE_PROCESSOR_DESC) {
    if (length < kHighestModuleOffset + 2) {
      ++mCounters.malformed;
      return;
    }
    mExpectedModuleCount = uint32_t{LoadU16(packet + kHighestModuleOffset)} + 1;
  } else if (type == VORN_TYPE_MODULE_DESC && data == nullptr) {
    if (length < kModuleDescFixedBytes) {
      ++mCounters.malformed;
      return;
    }
    auto created = std::make_unique<ModuleData>(packet + hdr::kRecord, length - hdr::kRecord,
                                                &mBudget);
    mModuleIndex[module] = created.get();
    mKELModules[module] = std::move(created);
  }
}

void VornCache::ProcessKelData(uint8_t module, uint8_t stream, const uint8_t* packet,
                               size_t length) {
  if (!IsReady()) {
    // Nothing is stored before discovery is complete.
    ++mCounters.droppedNotReady;
    CheckReady();
    return;
  }
  const ModuleData* data = mModuleIndex[module];
  if (data == nullptr) {
    ++mCounters.noBuffer;
    mConfigValid.store(false, std::memory_order_release);
    return;
  }
  if (module == PROCESSOR_MODULE) return;
  if (length <= hdr::kPayloadType) {
    ++mCounters.malformed;
    return;
  }
  const StreamRoute& route = data->Route(stream);
  switch (packet[hdr::kPayloadType]) {
    case VORN_STREAM_TYPE_CONTINUOUS: {
      if (length < kContFrameOffset) {
        ++mCounters.malformed;
        return;
      }
      if ((LoadU16(packet + kContFlagsOffset) & kContSkipFlag) != 0) return;
      bool fits;
      if (route.highRes) {
        if (route.hiRes == nullptr) break;
        fits = route.hiRes->WriteFrame(packet + kContFrameOffset, length - kContFrameOffset,
                                       LoadU32(packet + hdr::kTime));
      } else {
        if (route.cont == nullptr) break;
        fits = route.cont->WriteFrame(packet + kContFrameOffset, length - kContFrameOffset,
                                      LoadU32(packet + hdr::kTime));
      }
      if (!fits) ++mCounters.malformed;
      return;
    }
    case VORN_STREAM_TYPE_SEGMENT: {
      // A segment is 120 bytes holding 52 samples; anything else is not one.
      if (length < kSegmentPacketBytes ||
          LoadU16(packet + kSegmentSampleCountOffset) != kSegmentSampleCount) {
        ++mCounters.malformed;
        return;
      }
      if (route.segment == nullptr) break;
      route.segment->Push(packet, length);
      return;
    }
    case VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT: {
      // Every digital event is filed under module 34, whichever module sent it.
      const ModuleData* io = mModuleIndex[DIGITAL_IO_MODULE];
      EventBuffer* events = io != nullptr ? io->GetEventBuffer() : nullptr;
      if (length < kEventPacketBytes || events == nullptr) {
        ++mCounters.malformed;
        return;
      }
      events->Push(packet, length);
      return;
    }
    default:
      return;
  }
  // A stream that should have a buffer and has none: the cached configuration
  // does not match the instrument's.
  ++mCounters.noBuffer;
  mConfigValid.store(false, std::memory_order_release);
}

void VornCache::ProcessOperatorPacket(uint8_t processor, const uint8_t* packet, size_t length) {
  // Only operator workstations (129 to 254) are registered: 255 means "every
  // processor" in an address, and other ids are not operators.
  if (!IsOperatorId(processor)) return;
  std::unique_ptr<uint8_t[]>& record = mOperators[processor];
  if (length < kRecordTypeOffset + 1 || packet[kRecordTypeOffset] != VORN_TYPE_RECORDING_TRIAL_DESC ||
      packet[kRecordVendorOffset] != VORN_VENDOR) {
    return;
  }
  if (!record) record.reset(new uint8_t[kTrialRecordBytes]);
  // Always a whole record; what the packet does not hold reads as zeros.
  const size_t have = std::min(length - hdr::kRecord, kTrialRecordBytes);
  std::memcpy(record.get(), packet + hdr::kRecord, have);
  std::memset(record.get() + have, 0, kTrialRecordBytes - have);
}

}  // namespace vorn
