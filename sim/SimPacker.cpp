#include "SimPacker.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "VornProtocol.h"

namespace vornsim {

SimPacker::SimPacker(SimTransport& transport, const FaultRates& faults)
    : mTransport(transport),
      mFaults(faults),
      mFaultsOn(faults.lossPercent > 0 || faults.dupPercent > 0 || faults.reorderPercent > 0),
      mRng(faults.seed),
      mBuffers(kBatch) {}

bool SimPacker::Roll(double percent) {
  if (percent <= 0.0) return false;
  if (percent >= 100.0) return true;
  return std::uniform_real_distribution<double>(0.0, 100.0)(mRng) < percent;
}

uint8_t* SimPacker::Room(size_t length) {
  if (mUsed + length > kMaxDatagram) CloseDatagram();
  uint8_t* p = mBuffers[mCurrent].data() + mUsed;
  std::memset(p, 0, length);
  return p;
}

void SimPacker::Keep(size_t length) {
  mUsed += length;
  ++mCounters.packets;
}

void SimPacker::CloseDatagram() {
  if (mUsed == 0) return;
  mLengths[mCurrent] = mUsed;
  ++mCurrent;
  mUsed = 0;
  if (mCurrent == kBatch) SendBatch();
}

void SimPacker::SendBatch() {
  if (mCurrent == 0) return;
  std::array<const uint8_t*, kBatch> data{};
  for (size_t i = 0; i < mCurrent; ++i) data[i] = mBuffers[i].data();
  mTransport.SendDatagrams(data.data(), mLengths.data(), mCurrent);
  mCounters.datagrams += mCurrent;
  mCurrent = 0;
}

uint8_t* SimPacker::Begin(size_t length) {
  // Every packet is a whole number of words and at most 255 words long; the
  // simulator's builders keep to that, so anything else is a bug.
  if (length == 0 || length > vorn::kMaxPacketBytes || length % 4 != 0) {
    throw std::logic_error("SimPacker: invalid packet length " + std::to_string(length));
  }
  mPending = length;
  return Room(length);
}

void SimPacker::Commit() {
  const size_t length = mPending;
  mPending = 0;
  if (length == 0) return;
  if (!mFaultsOn) {
    Keep(length);
    return;
  }
  uint8_t* bytes = mBuffers[mCurrent].data() + mUsed;
  if (Roll(mFaults.lossPercent)) {
    ++mCounters.lost;
    return;
  }
  if (mHeld.empty() && Roll(mFaults.reorderPercent)) {
    mHeld.assign(bytes, bytes + length);
    ++mCounters.reordered;
    return;
  }
  std::array<uint8_t, vorn::kMaxPacketBytes> copy;
  const bool dup = Roll(mFaults.dupPercent);
  if (dup) std::memcpy(copy.data(), bytes, length);
  Keep(length);
  if (dup) {
    std::memcpy(Room(length), copy.data(), length);
    Keep(length);
    ++mCounters.duplicated;
  }
  if (!mHeld.empty()) {
    std::memcpy(Room(mHeld.size()), mHeld.data(), mHeld.size());
    Keep(mHeld.size());
    mHeld.clear();
  }
}

void SimPacker::Put(const uint8_t* packet, size_t length) {
  uint8_t* p = Begin(length);
  std::memcpy(p, packet, length);
  Commit();
}

void SimPacker::Flush() {
  if (!mHeld.empty()) {
    std::memcpy(Room(mHeld.size()), mHeld.data(), mHeld.size());
    Keep(mHeld.size());
    mHeld.clear();
  }
  CloseDatagram();
  SendBatch();
}

}  // namespace vornsim
