// VornPacketList: the buffer into which the listening thread receives one
// datagram, split into its packets by their size bytes.
//
// Threads: owned and used by the listening thread only.
// Drops: a datagram of capacity bytes or more is dropped whole (message on
// standard error); splitting stops at a packet whose size byte is 0 or whose
// size runs past the end of the datagram, and that packet and everything
// after it are dropped, the packets before it kept.
#pragma once

#include <cstdint>
#include <vector>

#include "RecordView.h"

namespace vorn {

class VornPacketList {
 public:
  explicit VornPacketList(uint32_t capacity);
  virtual ~VornPacketList() = default;

  // Replaces the contents with one datagram of length bytes. Never allocates.
  void Fill(const uint8_t* data, int length);

  uint32_t GetCount() const { return static_cast<uint32_t>(mOffsets.size()); }
  // Packet i (i < GetCount()) inside the buffer; null when i is out of range.
  const uint8_t* GetPacket(uint32_t i) const;
  // Length in bytes of packet i (its size byte x 4); 0 when i is out of range.
  uint32_t GetPacketLength(uint32_t i) const;
  // Packet i as a length-checked view (empty when i is out of range).
  PacketView GetPacketView(uint32_t i) const;

  uint32_t GetCapacity() const { return mCapacity; }

 private:
  uint32_t mCapacity;
  std::vector<uint8_t> mBuffer;    // mCapacity bytes, zero behind the datagram
  std::vector<uint32_t> mOffsets;  // reserved for the most packets that fit
};

}  // namespace vorn
