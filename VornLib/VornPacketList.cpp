#include "VornPacketList.h"

#include <cstdio>
#include <cstring>

namespace vorn {

VornPacketList::VornPacketList(uint32_t capacity)
    : mCapacity(capacity), mBuffer(capacity, 0) {
  // The smallest packet is one word, so this many offsets is the most a
  // datagram can produce: Fill never allocates.
  mOffsets.reserve(capacity / 4 + 1);
}

void VornPacketList::Fill(const uint8_t* data, int length) {
  if (mCapacity > 0) std::memset(mBuffer.data(), 0, mCapacity);
  mOffsets.clear();
  if (length <= 0 || data == nullptr) return;

  const uint32_t len = static_cast<uint32_t>(length);
  if (len >= mCapacity) {
    std::fprintf(stderr, "VornPacketList: failed to allocate memory");
    return;
  }
  std::memcpy(mBuffer.data(), data, len);

  uint32_t offset = 0;
  while (offset < len) {
    const uint32_t packetBytes = static_cast<uint32_t>(mBuffer[offset]) * 4u;
    if (packetBytes == 0 || packetBytes > len - offset) break;
    mOffsets.push_back(offset);
    offset += packetBytes;
  }
}

const uint8_t* VornPacketList::GetPacket(uint32_t i) const {
  if (i >= mOffsets.size()) return nullptr;
  return mBuffer.data() + mOffsets[i];
}

uint32_t VornPacketList::GetPacketLength(uint32_t i) const {
  if (i >= mOffsets.size()) return 0;
  return static_cast<uint32_t>(mBuffer[mOffsets[i]]) * 4u;
}

PacketView VornPacketList::GetPacketView(uint32_t i) const {
  if (i >= mOffsets.size()) return PacketView();
  return PacketView(GetPacket(i), GetPacketLength(i));
}

}  // namespace vorn
