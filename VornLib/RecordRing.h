// RecordRing: the latest `capacity` fixed-size records pushed since the last
// drain; the ring behind SegmentBuffer and EventBuffer.
//
// Threads: Push runs on the listening thread, Drain on MATLAB's thread; both
// hold the cache mutex. No lock of its own.
// When full: the oldest record is overwritten; the drain result still counts
// every arrival.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vorn {

class RecordRing {
 public:
  RecordRing(uint32_t capacity, size_t recordBytes);
  virtual ~RecordRing();
  RecordRing(const RecordRing&) = delete;
  RecordRing& operator=(const RecordRing&) = delete;

  // Copies the first record-size bytes of packet into the next slot. A
  // packet shorter than a record is refused (false). Allocates nothing.
  bool Push(const uint8_t* packet, size_t length);
  // Copies the newest min(max, count, capacity) records, oldest first, into
  // out (room for max records; out may be null to just empty the ring).
  // Returns the number of records pushed since the previous drain (0 when
  // out is null) and empties the ring.
  uint32_t Drain(uint8_t* out, uint32_t max);

  uint32_t GetCapacity() const { return mCapacity; }
  uint32_t GetCount() const { return mCount; }
  size_t GetRecordBytes() const { return mRecordBytes; }
  uint64_t GetTotalPushed() const { return mTotalPushed; }
  // Records overwritten before a drain could take them.
  uint64_t GetOverwritten() const { return mOverwritten; }

 private:
  uint32_t mCapacity;
  uint32_t mCount = 0;
  size_t mRecordBytes;
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, FreeDeleter> mRecords;   // calloc: zero pages until written
  uint64_t mTotalPushed = 0;
  uint64_t mOverwritten = 0;
};

}  // namespace vorn
