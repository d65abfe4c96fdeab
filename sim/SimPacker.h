// Packs outgoing packets end to end into datagrams of at most 1499 bytes and
// hands them to the transport in batches (one sendmmsg per batch). Packets
// are written in place: Begin(length) gives room in the current datagram,
// the caller fills exactly length bytes, Commit() keeps them.
//
// Faults: each committed packet is, with the configured probabilities, lost,
// held back and sent after the next packet (reordered), or sent twice.
// A packet held back when Flush() comes is sent at the end of that flush.
//
// Threads: the simulator's loop thread only. When full: a full batch of
// datagrams is sent at once (the socket blocks rather than drops).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "SimTransport.h"

namespace vornsim {

struct FaultRates {
  double lossPercent = 0.0;
  double dupPercent = 0.0;
  double reorderPercent = 0.0;
  uint64_t seed = 1;
};

struct PackerCounters {
  uint64_t packets = 0;     // packets put into datagrams (duplicates included)
  uint64_t datagrams = 0;   // datagrams handed to the transport
  uint64_t lost = 0;
  uint64_t duplicated = 0;
  uint64_t reordered = 0;
};

class SimPacker {
 public:
  static constexpr size_t kMaxDatagram = 1499;
  static constexpr size_t kBatch = 64;

  SimPacker(SimTransport& transport, const FaultRates& faults);

  // Room for one packet of `length` bytes (1..1020, a multiple of 4),
  // zero-filled. Valid until Commit().
  uint8_t* Begin(size_t length);
  void Commit();
  // Convenience: Begin + copy + Commit.
  void Put(const uint8_t* packet, size_t length);
  // Sends every datagram that holds packets.
  void Flush();

  const PackerCounters& Counters() const { return mCounters; }

 private:
  uint8_t* Room(size_t length);   // room in the current datagram
  void Keep(size_t length);       // keeps the bytes given by the last Room
  void CloseDatagram();
  void SendBatch();
  bool Roll(double percent);

  SimTransport& mTransport;
  FaultRates mFaults;
  bool mFaultsOn;
  std::mt19937_64 mRng;
  std::vector<std::array<uint8_t, kMaxDatagram>> mBuffers;
  std::array<size_t, kBatch> mLengths{};
  size_t mCurrent = 0;   // datagram being filled
  size_t mUsed = 0;      // bytes used in it
  size_t mPending = 0;   // length given to the last Begin
  std::vector<uint8_t> mHeld;   // a packet held back for reordering
  PackerCounters mCounters;
};

}  // namespace vornsim
