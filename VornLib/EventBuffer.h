// EventBuffer: the latest legacy digital event packets (28 bytes: header,
// payload type, reason, parallel and the four SMA words) until 'digin'
// drains them. The instrument's one event buffer belongs to module 34.
//
// Threads: Push on the listening thread, Drain on MATLAB's thread, both with
// the cache mutex held.
// When full: the oldest event is overwritten; Drain still counts it.
#pragma once

#include "RecordRing.h"
#include "VornProtocol.h"

namespace vorn {

class EventBuffer : public RecordRing {
 public:
  explicit EventBuffer(uint32_t capacity = kEventBufferRecords)
      : RecordRing(capacity, kEventPacketBytes) {}
  ~EventBuffer() override;
};

}  // namespace vorn
