// Figures of the instrument state cache on one core, fed by the simulator's
// model of the full instrument (vornsim --profile full, sim/LAYOUT.md):
//   1. VornCache::ProcessPacket on the packets it sends (512 channels as 16
//      front ends x 32: 16-bit frames at 30 kHz, float frames at 2 kHz, 16-bit
//      frames at 1 kHz and the slower rms and diag frames, 16 analog inputs,
//      spike segments, digital events, time packets), in packets/s;
//   2. ContDataBuffer::ReadLatest of 150000 frames of one channel, in values/s;
//   3. VornCache::GetContDataMany of 512 electrodes x 150000 frames (what a
//      5-second 'cont' of every electrode reads under the cache lock).
// Usage: bench_cache [seconds of instrument data per pass, default 1]
// Prints figures; asserts no time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../tests/support/SimFeed.h"
#include "ByteOrder.h"
#include "VornCache.h"

using namespace vorn;
using Clock = std::chrono::steady_clock;

namespace {

struct Packet {
  uint8_t* data;
  size_t length;
};

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t seconds = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 1;
  const uint32_t ticks = 30000 * (seconds == 0 ? 1 : seconds);

  test::SimFeed sim(test::SimFeed::FullProfile());
  VornCache cache;
  sim.Feed(cache);
  if (!cache.IsReady()) {
    std::fprintf(stderr, "bench_cache: the simulator's configuration did not make the cache ready\n");
    return 1;
  }

  // The datagrams as the simulator packs them; the packets are walked in place.
  std::vector<std::vector<uint8_t>> datagrams = sim.Run(ticks);
  std::vector<Packet> packets;
  size_t bytes = 0;
  for (std::vector<uint8_t>& d : datagrams) {
    for (size_t pos = 0; pos < d.size(); pos += d[pos] * 4u) packets.push_back({&d[pos], d[pos] * 4u});
    bytes += d.size();
  }
  std::printf("instrument: %zu modules, %zu packets (%.1f MB) per %u s of data\n",
              cache.GetModuleCount(), packets.size(), static_cast<double>(bytes) / 1e6, ticks / 30000);

  // ---- ProcessPacket ----
  // Each pass moves every time stamp on by the pass length, so that every
  // frame is new (stored, not ignored as late). The untimed warm-up passes
  // fill every ring once (the rings' pages are first touched then).
  const int warmUp = static_cast<int>(6 / (ticks / 30000) + 1);
  const int passes = 8;
  double busy = 0;
  uint64_t processed = 0;
  for (int pass = 0; pass < warmUp + passes; ++pass) {
    if (pass > 0) {
      for (const Packet& p : packets) StoreU32(p.data + 4, LoadU32(p.data + 4) + ticks);
    }
    const auto start = Clock::now();
    for (const Packet& p : packets) cache.ProcessPacket(p.data, p.length);
    if (pass < warmUp) continue;
    busy += Seconds(start);
    processed += packets.size();
  }
  int rawModule = 0, rawStream = 0;   // electrode 0's "raw"
  cache.FindStreamForElectrode(0, "raw", &rawModule, &rawStream);
  const ContDataBuffer<int16_t>* raw = cache.GetModule(rawModule)->GetContBuffer(rawStream);
  const CacheCounters& c = cache.GetCounters();
  std::printf("ProcessPacket: %.1f M packets/s (%llu packets in %.3f s; malformed %llu, no buffer %llu; "
              "raw frames stored %llu, missed %llu, late %llu)\n",
              static_cast<double>(processed) / busy / 1e6, static_cast<unsigned long long>(processed),
              busy, static_cast<unsigned long long>(c.malformed),
              static_cast<unsigned long long>(c.noBuffer),
              static_cast<unsigned long long>(raw->GetCounters().framesStored),
              static_cast<unsigned long long>(raw->GetCounters().framesMissed),
              static_cast<unsigned long long>(raw->GetCounters().lateIgnored));
  std::printf("  = %.1f instrument-seconds of data per second\n",
              static_cast<double>(passes) * ticks / 30000.0 / busy);

  // ---- ReadLatest of one channel ----
  std::vector<float> out(150000);
  const int reads = 50;
  uint32_t firstTime = 0;
  auto start = Clock::now();
  uint64_t values = 0;
  for (int i = 0; i < reads; ++i) {
    values += raw->ReadLatest(&firstTime, out.data(), static_cast<uint32_t>(i % 32), 150000, true);
  }
  double took = Seconds(start);
  std::printf("ReadLatest 150000 frames x 1 channel: %.1f M values/s (%.2f ms per read)\n",
              static_cast<double>(values) / took / 1e6, took / reads * 1e3);

  // ---- A 5-second read of all 512 electrodes ----
  std::vector<float> all(static_cast<size_t>(512) * 150000);
  std::vector<ContRead> contReads(512);
  for (int e = 0; e < 512; ++e) {
    contReads[e].electrode = e;
    cache.FindStreamForElectrode(e, "raw", &contReads[e].module, &contReads[e].stream);
    contReads[e].out = &all[static_cast<size_t>(e) * 150000];
  }
  start = Clock::now();
  cache.GetContDataMany(contReads.data(), contReads.size(), 150000, 0);
  took = Seconds(start);
  std::printf("GetContDataMany 512 electrodes x 150000 frames: %.1f ms (%.1f M values/s)\n",
              took * 1e3, 512.0 * 150000 / took / 1e6);
  start = Clock::now();
  for (const ContRead& r : contReads) {
    uint32_t t = 0;
    cache.GetContData(&t, r.out, 150000, r.electrode, r.module, r.stream, 0);
  }
  took = Seconds(start);
  std::printf("GetContData one electrode at a time, same read: %.1f ms\n", took * 1e3);
  return 0;
}
