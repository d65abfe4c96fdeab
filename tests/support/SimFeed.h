// SimFeed: the simulator's instrument model (vornsim_core) run in-process,
// with no socket and no clock, as a packet source for a VornCache: the
// configuration packets its discovery replies carry and the datagrams it
// sends while its clock runs. sim/LAYOUT.md documents the instrument; the
// options are vornsim's own (SimOptions, FullProfile()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "SimInstrument.h"   // with the options, layout, packer and log
#include "VornCache.h"

namespace vorn {
namespace test {

class SimFeed {
 public:
  using Bytes = std::vector<uint8_t>;

  explicit SimFeed(const vornsim::SimOptions& options = vornsim::SimOptions())
      : mPacker(mTransport, vornsim::FaultRates{options.lossPercent, options.dupPercent,
                                                options.reorderPercent, options.seed}),
        mSim(options, mPacker, mLog) {
    // Discovery's replies: the processor descriptor (request 1/0/5), every
    // module descriptor closed by the processor descriptor again (1/255/0),
    // then every property of every module in module and property order
    // (1/255/65535), the last one completing module 34.
    for (uint16_t index : {uint16_t{5}, uint16_t{0}, uint16_t{0xFFFF}}) {
      const uint8_t module = index == 5 ? PROCESSOR_MODULE : uint8_t{255};
      for (Bytes& p : Packets(Send(Request(KEL_PROCESSOR, module, index)))) {
        mConfig.push_back(std::move(p));
      }
    }
  }
  SimFeed(const SimFeed&) = delete;
  SimFeed& operator=(const SimFeed&) = delete;

  // vornsim --profile full: 16 front ends (512 electrodes), every continuous
  // stream on.
  static vornsim::SimOptions FullProfile() {
    const char* const argv[] = {"vornsim", "--profile", "full"};
    vornsim::SimOptions options;
    std::string error;
    vornsim::ParseSimOptions(3, argv, &options, &error);
    return options;
  }

  const vornsim::SimLayout& Layout() const { return mSim.Layout(); }
  int ModuleCount() const { return static_cast<int>(Layout().modules.size()); }
  vornsim::SimInstrument& Sim() { return mSim; }

  const std::vector<Bytes>& ConfigPackets() const { return mConfig; }
  // Feeds every configuration packet (the cache is ready afterwards).
  void Feed(VornCache& cache) const {
    for (const Bytes& p : mConfig) cache.ProcessPacket(p.data(), p.size());
  }

  // The datagrams the instrument sends in answer to one from the host.
  std::vector<Bytes> Send(const Bytes& datagram) {
    mSim.HandleDatagram(datagram.data(), datagram.size(), kHost);
    return Take();
  }
  // The datagrams the instrument sends over its next `ticks` clock ticks,
  // produced tick by tick (so the streams interleave as their frames fall due).
  std::vector<Bytes> Run(uint64_t ticks) {
    const uint64_t end = mSim.Now() + ticks;
    while (mSim.Now() < end) mSim.Advance(mSim.Now() + 1);
    return Take();
  }

  // The packets of datagrams, in order (each packet starts with its size in
  // 32-bit words).
  static std::vector<Bytes> Packets(const std::vector<Bytes>& datagrams) {
    std::vector<Bytes> packets;
    for (const Bytes& d : datagrams) {
      for (size_t pos = 0, len = 0; pos < d.size(); pos += len) {
        len = d[pos] * size_t{4};
        if (len == 0 || pos + len > d.size()) break;
        packets.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(pos),
                             d.begin() + static_cast<std::ptrdiff_t>(pos + len));
      }
    }
    return packets;
  }
  // A property request (12 bytes, no record), as the extension sends it.
  static Bytes Request(uint8_t processor, uint8_t module, uint16_t index) {
    Bytes p = {3, 0, 0, 0, 0, 0, 0, 0, processor, module, 0, 0};
    StoreU16(&p[hdr::kPropertyIndex], index);
    return p;
  }

 private:
  static constexpr uint32_t kHost = 0x7F000001u;   // only named in the (closed) log

  class Recorder : public vornsim::SimTransport {
   public:
    size_t SendDatagrams(const uint8_t* const* data, const size_t* lengths, size_t count) override {
      for (size_t i = 0; i < count; ++i) datagrams.emplace_back(data[i], data[i] + lengths[i]);
      return count;
    }
    int ReceiveOne(uint8_t*, size_t, uint32_t*) override { return -1; }
    std::vector<Bytes> datagrams;
  };

  std::vector<Bytes> Take() {
    mPacker.Flush();
    std::vector<Bytes> out;
    out.swap(mTransport.datagrams);
    return out;
  }

  Recorder mTransport;
  vornsim::SimPacker mPacker;
  vornsim::SimLog mLog;   // never opened: writes nothing
  vornsim::SimInstrument mSim;
  std::vector<Bytes> mConfig;
};

}  // namespace test
}  // namespace vorn
