// libFuzzer target: arbitrary datagrams through VornPacketList into a
// VornCache that the simulator's instrument (FuzzInstrument.h) has already
// made ready with its configuration packets, followed by every query the
// commands make. Built by scripts/fuzz.sh with clang
// (-fsanitize=fuzzer,address,undefined).
//
// Input: datagrams, each preceded by its length as a little-endian u16
// (lengths above the packet list's capacity are fed as they are: the list
// drops them, as it drops such datagrams from the network).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzInstrument.h"
#include "SimFeed.h"
#include "VornCache.h"
#include "VornPacketList.h"

using namespace vorn;

namespace {

constexpr uint32_t kListCapacity = 1500;
constexpr size_t kFuzzBufferLimit = size_t{96} << 20;

const test::SimFeed& Instrument() {
  static const test::SimFeed sim(test::FuzzOptions());
  return sim;
}

void QueryEverything(VornCache& cache) {
  volatile long sink = cache.GetStatus();
  volatile double fsink = 0;   // scales and coefficients may be NaN or huge
  std::vector<int32_t> keys(512);
  keys.resize(static_cast<size_t>(cache.ListElectrodes(keys.data(), 512, "")));
  cache.ListElectrodes(keys.data(), 4, "front");
  for (int m : cache.ListIncompleteModules()) sink += static_cast<long>(cache.ListMissingProperties(m).size());
  sink += static_cast<long>(cache.BuildStimElectrodeMap().size());
  int module = 0, index = 0;
  sink += static_cast<long>(cache.FindStimEnable(&module, &index).Size());
  sink += cache.GetDigitalInputEnable(&module, &index);

  std::vector<uint8_t> records(1024 * kSegmentPacketBytes);
  std::vector<float> values(2048);
  const int probes[] = {0, 5, 33, 39, 40, 10240, 10244, 600};   // 40, 10244, 600: no electrode
  for (int key : probes) {
    std::vector<std::string> names;
    cache.ListElectrodeStreams(key, &names, 10);
    for (const std::string& name : names) {
      int m = 0, s = 0, prop = 0, channels = 0;
      OutputStreamView d = cache.FindStreamForElectrode(key, name, &m, &s);
      sink += cache.GetStreamEnable(key, name, &m, &prop, &channels);
      if (d.Empty()) continue;
      uint32_t t = 0;
      const uint32_t wanted[] = {0, cache.GetLatestTime(), 12345};
      for (uint32_t w : wanted) sink += cache.GetContData(&t, values.data(), 2048, key, m, s, w);
      ContRead reads[2];
      reads[0] = ContRead{key, m, s, values.data(), 0, false, 0};
      reads[1] = ContRead{key + 1, m, s, values.data() + 1024, 0, false, 0};
      cache.GetContDataMany(reads, 2, 1024, 0);
    }
    sink += cache.GetSpikeSegments(records.data(), 1024, key);
    sink += cache.GetStimSegments(records.data(), 1024, key);
    fsink = fsink + cache.GetSpikeScale(key) + cache.GetStimScale(key);
    std::vector<std::string> filters;
    cache.ListFilterTypes(&filters, 10, key);
    filters.push_back("bogus Filter");
    for (const std::string& f : filters) {
      int m = 0, prop = 0;
      ComboBoxView combo = cache.FindFilterCombo(key, f, &m, &prop);
      const int count = combo.ItemCount().value_or(0);
      for (int sel = -1; sel <= count && sel < 64; ++sel) {
        SosFilterView filter = cache.GetFilterDesc(key, f, sel, &m, &prop);
        for (size_t st = 0; st < filter.StagesStored(); ++st) fsink = fsink + *filter.Coef(st, 3);
      }
    }
  }
  sink += cache.GetDigitalEvents(records.data(), 1024);
  int ids[16];
  const int n = cache.ListOperators(ids, 16);
  for (int i = 0; i < n; ++i) sink += static_cast<long>(cache.CopyOperatorTrial(ids[i]).size());
  sink += static_cast<long>(cache.CopyOperatorTrial(0).size());
  cache.ClearOperatorTrial(0);
  (void)sink;
  (void)fsink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VornCache cache;
  cache.SetBufferMemoryLimit(kFuzzBufferLimit);
  Instrument().Feed(cache);
  if (!cache.IsReady()) __builtin_trap();   // the configuration itself is broken

  VornPacketList list(kListCapacity);
  size_t pos = 0;
  while (pos + 2 <= size) {
    size_t length = static_cast<size_t>(data[pos]) | (static_cast<size_t>(data[pos + 1]) << 8);
    pos += 2;
    if (length > size - pos) length = size - pos;
    // Received bytes live in a buffer of their own, as recvfrom would leave them.
    std::vector<uint8_t> datagram(data + pos, data + pos + length);
    pos += length;
    list.Fill(datagram.data(), static_cast<int>(datagram.size()));
    for (uint32_t i = 0; i < list.GetCount(); ++i) {
      cache.ProcessPacket(list.GetPacket(i), list.GetPacketLength(i));
    }
  }
  QueryEverything(cache);
  return 0;
}
