#include "RecordRing.h"

#include <algorithm>
#include <cstring>

namespace vorn {

RecordRing::RecordRing(uint32_t capacity, size_t recordBytes)
    : mCapacity(capacity),
      mRecordBytes(recordBytes),
      mRecords(static_cast<uint8_t*>(std::calloc(capacity == 0 ? 1 : capacity, recordBytes))) {
  if (!mRecords) mCapacity = 0;   // out of memory: a ring that stores nothing
}

RecordRing::~RecordRing() = default;

bool RecordRing::Push(const uint8_t* packet, size_t length) {
  if (mCapacity == 0 || length < mRecordBytes) return false;
  if (mCount >= mCapacity) ++mOverwritten;
  std::memcpy(mRecords.get() + static_cast<size_t>(mCount % mCapacity) * mRecordBytes, packet,
              mRecordBytes);
  ++mCount;
  ++mTotalPushed;
  return true;
}

uint32_t RecordRing::Drain(uint8_t* out, uint32_t max) {
  const uint32_t arrived = mCount;
  // Slots 0 .. filled-1 hold records: zero them so that the ring is empty again.
  const uint32_t filled = std::min(mCount, mCapacity);
  mCount = 0;
  if (out != nullptr) {
    const uint32_t n = std::min({max, arrived, mCapacity});
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t slot = (arrived - n + i) % mCapacity;
      std::memcpy(out + static_cast<size_t>(i) * mRecordBytes,
                  mRecords.get() + static_cast<size_t>(slot) * mRecordBytes, mRecordBytes);
    }
  }
  std::memset(mRecords.get(), 0, static_cast<size_t>(filled) * mRecordBytes);
  return out != nullptr ? arrived : 0;
}

}  // namespace vorn
