// SegmentBuffer: the latest segment packets (120 bytes: header, payload
// type, sample count 52 and the 52-sample waveform) of one spike or stim
// waveform stream, until 'spike' / 'stimdata' drain them.
//
// Threads: Push on the listening thread, Drain on MATLAB's thread, both with
// the cache mutex held.
// When full: the oldest segment is overwritten; Drain still counts it.
#pragma once

#include "RecordRing.h"
#include "VornProtocol.h"

namespace vorn {

class SegmentBuffer : public RecordRing {
 public:
  explicit SegmentBuffer(uint32_t capacity = kSegmentBufferRecords)
      : RecordRing(capacity, kSegmentPacketBytes) {}
  ~SegmentBuffer() override;
};

}  // namespace vorn
