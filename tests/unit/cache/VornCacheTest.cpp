#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ScriptedInstrument.h"
#include "VornCache.h"

namespace vorn {
namespace {

using build::Bytes;
using test::InstrumentOptions;
using test::ScriptedInstrument;

// Four front ends (modules 1 to 8, the last one the stim front end), analog
// inputs on 33 and digital I/O on 34: small enough to build in every test.
InstrumentOptions SmallOptions() {
  InstrumentOptions o;
  o.frontEnds = 4;
  o.stimFrontEnd = 3;
  return o;
}

void Feed(VornCache& cache, const Bytes& p) { cache.ProcessPacket(p.data(), p.size()); }

std::unique_ptr<VornCache> ReadyCache(const ScriptedInstrument& inst) {
  auto cache = std::make_unique<VornCache>();
  inst.Feed(*cache);
  return cache;
}

// A cache that never turns ready by itself.
class NeverReadyCache : public VornCache {
 public:
  void CheckReady() override {}
};

TEST(VornCacheStartUp, StatusFollowsDiscoveryAndTurnsReadyOnTheLastProperty) {
  ScriptedInstrument inst(SmallOptions());
  const auto& packets = inst.ConfigPackets();
  VornCache cache;
  EXPECT_EQ(cache.GetStatus(), 1);   // no time yet
  Feed(cache, packets[0]);           // processor descriptor, from module 0
  EXPECT_EQ(cache.GetExpectedModuleCount(), static_cast<uint32_t>(inst.ModuleCount()));
  EXPECT_EQ(cache.GetLatestTime(), 1000u);
  EXPECT_EQ(cache.GetStatus(), 2);   // modules missing
  for (int i = 1; i <= inst.ModuleCount(); ++i) Feed(cache, packets[i]);
  EXPECT_TRUE(cache.AllModulesPresent());
  EXPECT_EQ(cache.GetStatus(), 3);   // properties missing
  EXPECT_EQ(cache.ListIncompleteModules().size(), static_cast<size_t>(inst.ModuleCount()));
  EXPECT_EQ(cache.ListMissingProperties(34).size(), 53u);
  EXPECT_TRUE(cache.ListMissingProperties(99).empty());
  EXPECT_EQ(cache.GetPropertyCount(34), 54);
  EXPECT_EQ(cache.GetPropertyCount(99), -1);

  for (size_t i = inst.ModuleCount() + 1; i + 1 < packets.size(); ++i) Feed(cache, packets[i]);
  EXPECT_FALSE(cache.IsReady());
  EXPECT_EQ(cache.ListIncompleteModules(), (std::vector<int>{34}));
  Feed(cache, packets.back());
  EXPECT_TRUE(cache.IsReady());
  EXPECT_EQ(cache.GetStatus(), 0);
  EXPECT_EQ(cache.GetModuleCount(), static_cast<size_t>(inst.ModuleCount()));
}

TEST(VornCacheStartUp, AllPresentButNotReadyIsStatus5) {
  ScriptedInstrument inst(SmallOptions());
  NeverReadyCache cache;
  inst.Feed(cache);
  EXPECT_TRUE(cache.AllPropertiesPresent());
  EXPECT_EQ(cache.GetStatus(), 5);
}

TEST(VornCacheStartUp, FullInstrumentLayoutIsIndexed) {
  ScriptedInstrument inst;   // 16 front ends, the last the stim front end
  auto cache = ReadyCache(inst);
  ASSERT_TRUE(cache->IsReady());
  EXPECT_EQ(cache->GetModuleCount(), 35u);

  std::vector<int32_t> keys(1024);
  keys.resize(cache->ListElectrodes(keys.data(), 1024, ""));
  const std::vector<int> expected = inst.ElectrodeKeys();
  EXPECT_EQ(std::vector<int>(keys.begin(), keys.end()), expected);
  for (int key : expected) EXPECT_TRUE(cache->HasElectrode(key)) << key;
  EXPECT_EQ(cache->FindElectrodeModule(295), 19);   // port 2, front end 1, channel 7
  EXPECT_EQ(cache->FindElectrodeModule(511), 31);
  EXPECT_EQ(cache->FindElectrodeModule(10243), 33);
  EXPECT_FALSE(cache->HasElectrode(10240 + 12));   // "AnalogOut 1"
  EXPECT_FALSE(cache->HasElectrode(512));

  // The stim front end's 32 electrodes map to its stim control properties.
  auto stim = cache->BuildStimElectrodeMap();
  ASSERT_EQ(stim.size(), 32u);
  EXPECT_EQ(stim.begin()->first, 480);
  for (const auto& [key, target] : stim) {
    EXPECT_EQ(target.first, 31);
    EXPECT_EQ(target.second, inst.StimControlProperty(key - 480));
  }
  int module = -1, index = -1;
  BoolView enable = cache->FindStimEnable(&module, &index);
  ASSERT_FALSE(enable.Empty());
  EXPECT_EQ(module, 0);
  EXPECT_EQ(index, inst.StimEnableProperty());
  EXPECT_EQ(*enable.Value(), 0);
}

TEST(VornCacheStartUp, ConfigurationInAnyOrderGivesTheSameCache) {
  ScriptedInstrument inst(SmallOptions());
  std::vector<Bytes> packets = inst.ConfigPackets();
  // Descriptors first (discovery asks for them first); properties in any order.
  const size_t descs = 1 + inst.ModuleCount();
  std::mt19937 rng(7);
  std::shuffle(packets.begin() + descs, packets.end(), rng);
  VornCache shuffled;
  for (const Bytes& p : packets) Feed(shuffled, p);
  auto ordered = ReadyCache(inst);
  ASSERT_TRUE(shuffled.IsReady());

  for (int m = 0; m <= 34; ++m) {
    const ModuleData* a = ordered->GetModule(m);
    const ModuleData* b = shuffled.GetModule(m);
    ASSERT_EQ(a == nullptr, b == nullptr) << m;
    if (a == nullptr) continue;
    std::vector<std::string> na, nb;
    a->ListStreamNames(&na);
    b->ListStreamNames(&nb);
    EXPECT_EQ(na, nb) << m;
    for (const std::string& name : na) EXPECT_EQ(a->FindStream(name), b->FindStream(name));
    for (int s = 0; s < 256; ++s) {
      const StreamRoute& ra = a->Route(static_cast<uint8_t>(s));
      const StreamRoute& rb = b->Route(static_cast<uint8_t>(s));
      EXPECT_EQ(ra.highRes, rb.highRes);
      EXPECT_EQ(ra.cont != nullptr, rb.cont != nullptr);
      EXPECT_EQ(ra.hiRes != nullptr, rb.hiRes != nullptr);
      EXPECT_EQ(ra.segment != nullptr, rb.segment != nullptr);
    }
  }
  EXPECT_EQ(shuffled.BuildStimElectrodeMap(), ordered->BuildStimElectrodeMap());
  for (int key : inst.ElectrodeKeys()) EXPECT_TRUE(shuffled.HasElectrode(key));
}

TEST(VornCacheStartUp, BlockEntriesBeyondTheSlotListAreSkipped) {
  // A front end whose channel block and stim control block run past its slots.
  VornCache cache;
  auto cfg = [&](uint8_t m, uint16_t i, const Bytes& r) {
    Feed(cache, build::ConfigPacket(1, m, 5, 1, m, i, r));
  };
  cfg(0, 0, build::ProcessorDesc(0));
  cfg(0, 0, build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, 3, 5, "stim front end"));
  cfg(0, 1, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 40, 3, "Channels"));
  cfg(0, 2, build::PropertyBlockDesc(VORN_TYPE_INT, 9, 4, "Stim Control Descriptor Block"));
  cfg(0, 3, build::PhysicalChannel(0, 0, 1, 0, "c0"));
  cfg(0, 4, build::Int(0));
  ASSERT_TRUE(cache.IsReady());
  EXPECT_TRUE(cache.HasElectrode(32));
  auto stim = cache.BuildStimElectrodeMap();
  EXPECT_EQ(stim.size(), 1u);
  EXPECT_EQ(stim[32], std::make_pair(0, 4));
}

TEST(VornCacheRegistry, OperatorsAreKeptPerWorkstation) {
  VornCache cache;
  Bytes trial = build::TrialRecord(1, "C:\\data\\run", 0, 1, 7);
  Feed(cache, build::ConfigPacket(131, 0, 0, 131, 0, 1, trial));
  Feed(cache, build::ConfigPacket(129, 0, 0, 129, 0, 1, build::Bool(1)));   // only the entry
  Feed(cache, build::ConfigPacket(255, 0, 0, 1, 0, 1, trial));     // "every processor" is none
  Feed(cache, build::ConfigPacket(2, 0, 0, 1, 0, 1, trial));       // not an operator
  int ids[8];
  ASSERT_EQ(cache.ListOperators(ids, 8), 2);
  EXPECT_EQ(ids[0], 129);
  EXPECT_EQ(ids[1], 131);
  EXPECT_EQ(cache.ListOperators(ids, 1), 1);
  EXPECT_TRUE(cache.HasOperator(129));
  EXPECT_TRUE(cache.CopyOperatorTrial(0).empty());   // the lowest, 129, has no record
  EXPECT_EQ(cache.CopyOperatorTrial(131), trial);

  // A short trial record is completed with zeros.
  Bytes part(trial.begin(), trial.begin() + 40);
  Feed(cache, build::ConfigPacket(131, 0, 0, 131, 0, 1, part));
  Bytes expected(kTrialRecordBytes, 0);
  std::copy(part.begin(), part.end(), expected.begin());
  EXPECT_EQ(cache.CopyOperatorTrial(131), expected);

  cache.ClearOperatorTrial(131);
  EXPECT_TRUE(cache.CopyOperatorTrial(131).empty());
  EXPECT_TRUE(cache.HasOperator(131));
  cache.ClearOperatorTrial(200);   // unknown: nothing happens
}

class ReadyCacheTest : public ::testing::Test {
 protected:
  ReadyCacheTest() : inst(SmallOptions()), cache(ReadyCache(inst)) {}
  ScriptedInstrument inst;
  std::unique_ptr<VornCache> cache;
};

TEST_F(ReadyCacheTest, ContinuousFramesGoToTheirStreamsBuffers) {
  for (uint32_t t = 100; t < 110; ++t) {
    Feed(*cache, inst.RawPacket(1, t, static_cast<int16_t>(t)));
    if (t % 15 == 0) Feed(*cache, inst.HiResPacket(1, t, 0.5f));
  }
  Feed(*cache, inst.LfpPacket(1, 120, 7));
  std::vector<float> out(4);
  uint32_t t = 0;
  // Electrode 37: front end 1, channel 5, on module 3.
  ASSERT_EQ(cache->GetContData(&t, out.data(), 4, 37, 3, ScriptedInstrument::kRawStream, 0), 4u);
  EXPECT_EQ(t, 105u);
  EXPECT_EQ(out, (std::vector<float>{(106 + 5) * 0.25f, (107 + 5) * 0.25f, (108 + 5) * 0.25f,
                                     (109 + 5) * 0.25f}));
  ASSERT_EQ(cache->GetContData(&t, out.data(), 1, 37, 3, ScriptedInstrument::kHiResStream, 0), 1u);
  EXPECT_EQ(out[0], 5.5f);
  ASSERT_EQ(cache->GetContData(&t, out.data(), 1, 37, 3, ScriptedInstrument::kLfpStream, 0), 1u);
  EXPECT_EQ(out[0], (7 - 5) * 0.25f);
  // From a wanted time: the time reported is the wanted one.
  t = 0;
  ASSERT_EQ(cache->GetContData(&t, out.data(), 4, 37, 3, ScriptedInstrument::kRawStream, 107), 2u);
  EXPECT_EQ(t, 107u);
  // A stream of another kind, or a module without it, reads nothing.
  EXPECT_EQ(cache->GetContData(&t, out.data(), 4, 37, 4, 1, 0), 0u);
  EXPECT_EQ(cache->GetContData(&t, out.data(), 4, 37, 99, 1, 0), 0u);
  EXPECT_TRUE(cache->IsConfigValid());
}

TEST_F(ReadyCacheTest, ManyReadsEqualOneReadPerElectrode) {
  for (uint32_t t = 1; t <= 300; ++t) {
    for (int f = 0; f < 4; ++f) Feed(*cache, inst.RawPacket(f, t, static_cast<int16_t>(t * (f + 1))));
    if (t % 15 == 0) Feed(*cache, inst.HiResPacket(2, t, static_cast<float>(t)));
  }
  std::vector<ContRead> reads;
  std::vector<std::vector<float>> many, single;
  const int electrodes[] = {0, 65, 33, 127, 64, 90};
  for (int e : electrodes) {
    ContRead r;
    r.electrode = e;
    r.module = 2 * (e / 32) + 1;
    r.stream = e == 90 ? ScriptedInstrument::kHiResStream : ScriptedInstrument::kRawStream;
    reads.push_back(r);
  }
  many.assign(reads.size(), std::vector<float>(250));
  single = many;
  for (size_t i = 0; i < reads.size(); ++i) reads[i].out = many[i].data();
  for (uint32_t wanted : {0u, 100u}) {
    cache->GetContDataMany(reads.data(), reads.size(), 250, wanted);
    for (size_t i = 0; i < reads.size(); ++i) {
      uint32_t t = 0;
      uint32_t n = cache->GetContData(&t, single[i].data(), 250, reads[i].electrode, reads[i].module,
                                      reads[i].stream, wanted);
      EXPECT_EQ(reads[i].values, n) << i;
      EXPECT_TRUE(reads[i].hasTime);
      EXPECT_EQ(reads[i].time, t) << i;
      EXPECT_TRUE(std::equal(single[i].begin(), single[i].begin() + n, many[i].begin())) << i;
    }
  }
}

TEST_F(ReadyCacheTest, SegmentsAndEventsAreDrainedPerElectrode) {
  Feed(*cache, inst.SpikePacket(37, 500, 10));
  Feed(*cache, inst.SpikePacket(37, 600, 20));
  Feed(*cache, inst.SpikePacket(38, 700, 30));
  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  ASSERT_EQ(cache->GetSpikeSegments(out.data(), 1024, 37), 2u);
  EXPECT_EQ(LoadU32(&out[4]), 500u);
  EXPECT_EQ(LoadU32(&out[kSegmentPacketBytes + 4]), 600u);
  EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, 37), 0u);
  EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, 38), 1u);
  EXPECT_EQ(cache->GetSpikeScale(37), ScriptedInstrument::kSpikeScale);
  EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, 600), 0u);
  EXPECT_EQ(cache->GetSpikeScale(600), 0.0);

  // Stim waveforms live on the stim front end itself (module 7, keys 96..127).
  std::array<int16_t, kSegmentSampleCount> samples{};
  Feed(*cache, build::SegmentPacket(7, ScriptedInstrument::kFirstStimStream + 4, 900, samples));
  EXPECT_EQ(cache->GetStimSegments(out.data(), 1024, 100), 1u);
  EXPECT_EQ(cache->GetStimScale(100), ScriptedInstrument::kStimScale);
  EXPECT_EQ(cache->GetStimSegments(out.data(), 1024, 5), 0u);   // no "stim" on module 1
  EXPECT_EQ(cache->GetStimScale(5), 0.0);

  // Digital events land in module 34's buffer whichever known module sent them.
  Feed(*cache, inst.EventPacket(1000, 0xFFFF));
  Feed(*cache, build::EventPacket(7, 1, 1001, 2, 5, {0xFFFF, 0, 0, 0}));
  std::vector<uint8_t> events(1024 * kEventPacketBytes);
  ASSERT_EQ(cache->GetDigitalEvents(events.data(), 1024), 2u);
  EXPECT_EQ(LoadU32(&events[kEventPacketBytes + 4]), 1001u);
  EXPECT_EQ(LoadU16(&events[kEventPacketBytes + 16]), 0xFFFF);
  EXPECT_EQ(cache->GetDigitalEvents(events.data(), 1024), 0u);
  EXPECT_TRUE(cache->IsConfigValid());
}

TEST_F(ReadyCacheTest, MalformedDataPacketsAreDroppedWithoutEffect) {
  Bytes spike = inst.SpikePacket(37, 500);
  Bytes wrongCount = spike;
  StoreU16(&wrongCount[kSegmentSampleCountOffset], 51);
  Feed(*cache, wrongCount);
  cache->ProcessPacket(spike.data(), 116);   // shorter than a segment
  Bytes event = inst.EventPacket(10, 1);
  cache->ProcessPacket(event.data(), 24);
  Bytes raw = inst.RawPacket(1, 50);
  cache->ProcessPacket(raw.data(), raw.size() - 4);   // shorter than its frame
  cache->ProcessPacket(raw.data(), 9);
  cache->ProcessPacket(raw.data(), 4);
  Bytes skipped = build::ContPacket(3, 1, 60, std::vector<int16_t>(32, 1), kContSkipFlag);
  Feed(*cache, skipped);

  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, 37), 0u);
  EXPECT_EQ(cache->GetDigitalEvents(out.data(), 1024), 0u);
  EXPECT_EQ(cache->GetModule(3)->GetContBuffer(1)->GetLastTimestamp(), 0u);
  EXPECT_TRUE(cache->IsConfigValid());
  EXPECT_TRUE(cache->IsReady());
  EXPECT_EQ(cache->GetCounters().malformed, 6u);
}

TEST(VornCacheData, DigitalEventsNeedExactlyOneEventBufferOnModule34) {
  InstrumentOptions o = SmallOptions();
  o.digitalIo = false;
  ScriptedInstrument noIo(o);
  auto cache = ReadyCache(noIo);
  ASSERT_TRUE(cache->IsReady());
  Feed(*cache, build::EventPacket(1, 1, 10, 1, 2, {0, 0, 0, 0}));
  EXPECT_TRUE(cache->IsConfigValid());
  EXPECT_EQ(cache->GetCounters().malformed, 1u);

  // A second event stream on module 34: no single buffer, events are dropped.
  ScriptedInstrument inst(SmallOptions());
  auto two = ReadyCache(inst);
  const ModuleData* io = two->GetModule(34);
  const int first = *io->GetStreamBlock().FirstItem();
  Feed(*two, build::ConfigPacket(1, 34, 0, 1, 34, static_cast<uint16_t>(first + 1),
                                 build::OutputStream(0, VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, 1, 0,
                                                     1, 1.0f, "", "")));
  Feed(*two, build::ConfigPacket(1, 34, 0, 1, 34, 1,   // the block now covers both
                                 build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 2,
                                                          static_cast<uint16_t>(first),
                                                          "Output Stream Block")));
  EXPECT_EQ(io->GetEventBuffer(), nullptr);
  Feed(*two, inst.EventPacket(20, 1));
  std::vector<uint8_t> out(1024 * kEventPacketBytes);
  EXPECT_EQ(two->GetDigitalEvents(out.data(), 1024), 0u);
  EXPECT_TRUE(two->IsConfigValid());
}

TEST_F(ReadyCacheTest, DataThatTheConfigurationCannotHoldInvalidatesIt) {
  Feed(*cache, build::ContPacket(3, 77, 10, {1, 2}));   // stream without a buffer
  EXPECT_FALSE(cache->IsConfigValid());
  EXPECT_EQ(cache->GetStatus(), 4);

  auto other = ReadyCache(inst);
  Feed(*other, build::ContPacket(200, 1, 10, {1, 2}));   // unknown module
  EXPECT_EQ(other->GetStatus(), 4);

  auto third = ReadyCache(inst);
  std::array<int16_t, kSegmentSampleCount> samples{};
  Feed(*third, build::SegmentPacket(3, 1, 10, samples));   // a continuous stream, no segment buffer
  EXPECT_FALSE(third->IsConfigValid());
}

TEST_F(ReadyCacheTest, NewModuleMakesTheCacheGrowUntilItIsComplete) {
  Feed(*cache, build::ConfigPacket(1, 40, 0, 1, 40, 0, build::ModuleDesc(1, 2, 2, "late")));
  EXPECT_FALSE(cache->IsReady());
  Feed(*cache, inst.RawPacket(0, 100));   // data is not stored meanwhile
  EXPECT_EQ(cache->GetModule(1)->GetContBuffer(1)->GetLastTimestamp(), 0u);
  EXPECT_EQ(cache->GetCounters().droppedNotReady, 1u);
  Feed(*cache, build::ConfigPacket(1, 0, 0, 1, 0, 2,
                                   build::ProcessorDesc(static_cast<uint16_t>(inst.ModuleCount()))));
  EXPECT_FALSE(cache->IsReady());
  Feed(*cache, build::ConfigPacket(1, 40, 0, 1, 40, 1, build::Bool(0)));
  EXPECT_TRUE(cache->IsReady());
}

TEST_F(ReadyCacheTest, ConfigurationRecordsOfAnotherVendorOrTooShortAreIgnored) {
  VornCache fresh;
  Bytes desc = build::ModuleDesc(1, 2, 2, "x");
  desc[0] = 9;
  Feed(fresh, build::ConfigPacket(1, 5, 0, 1, 5, 0, desc));
  EXPECT_EQ(fresh.GetModule(5), nullptr);
  Bytes proc = build::ConfigPacket(1, 0, 3, 1, 0, 0, build::ProcessorDesc(7));
  fresh.ProcessPacket(proc.data(), 16);   // ends before the highest-module field
  EXPECT_EQ(fresh.GetExpectedModuleCount(), 0xFFFFFFFFu);
  Bytes module = build::ConfigPacket(1, 5, 0, 1, 5, 0, build::ModuleDesc(1, 2, 2, "x"));
  fresh.ProcessPacket(module.data(), 24);   // ends before the property count
  EXPECT_EQ(fresh.GetModule(5), nullptr);
}

TEST_F(ReadyCacheTest, StreamQueriesOfTheSignalCommand) {
  std::vector<std::string> names;
  ASSERT_EQ(cache->ListElectrodeStreams(5, &names, 10), 4);
  EXPECT_EQ(names, (std::vector<std::string>{"hi-res", "lfp", "raw", "spk"}));
  names.clear();
  EXPECT_EQ(cache->ListElectrodeStreams(5, &names, 2), 2);
  names.clear();
  EXPECT_EQ(cache->ListElectrodeStreams(10240, &names, 10), 1);   // analog: its own module only
  EXPECT_EQ(cache->ListElectrodeStreams(600, &names, 10), -1);

  int module = -1, stream = -1;
  OutputStreamView d = cache->FindStreamForElectrode(5, "spk", &module, &stream);
  ASSERT_FALSE(d.Empty());
  EXPECT_EQ(module, 2);
  EXPECT_EQ(stream, 1);
  EXPECT_TRUE(cache->FindStreamForElectrode(5, "nothing", &module, &stream).Empty());

  int prop = -1, channels = -1;
  module = -1;
  EXPECT_EQ(cache->GetStreamEnable(5, "spk", &module, &prop, &channels), 1);
  EXPECT_EQ(module, 2);
  EXPECT_EQ(channels, 1);
  int firstProp = -1;
  cache->GetStreamEnable(0, "spk", nullptr, &firstProp, nullptr);
  EXPECT_EQ(prop, firstProp + 5);   // the electrode's own channel stream
  EXPECT_EQ(cache->GetStreamEnable(5, "raw", &module, &prop, &channels), 1);
  EXPECT_EQ(module, 1);
  EXPECT_EQ(channels, 32);
  EXPECT_EQ(cache->GetStreamEnable(5, "nothing", &module, &prop, &channels), -1);
  EXPECT_EQ(cache->GetDigitalInputEnable(&module, &prop), 1);
  EXPECT_EQ(module, 34);
}

TEST_F(ReadyCacheTest, FilterQueriesUseTheProcessingModule) {
  std::vector<std::string> names;
  ASSERT_EQ(cache->ListFilterTypes(&names, 10, 5), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"lfp", "spike"}));
  EXPECT_EQ(cache->ListFilterTypes(&names, 10, 600), 0);
  int module = -1, prop = -1;
  ComboBoxView combo = cache->FindFilterCombo(5, "LFP Filter", &module, &prop);
  ASSERT_FALSE(combo.Empty());
  EXPECT_EQ(module, 2);
  EXPECT_EQ(*combo.ItemCount(), 3);
  SosFilterView filter = cache->GetFilterDesc(5, "lfp", 2, &module, &prop);
  ASSERT_FALSE(filter.Empty());
  EXPECT_EQ(*filter.NumStages(), 3);
  EXPECT_EQ(*filter.Label(), "lfp 3");
  EXPECT_TRUE(cache->GetFilterDesc(5, "lfp", 3, &module, &prop).Empty());
  EXPECT_TRUE(cache->FindFilterCombo(5, "notch", &module, &prop).Empty());
}

TEST_F(ReadyCacheTest, ElectrodeListingFiltersByModuleName) {
  std::vector<int32_t> keys(512);
  keys.resize(cache->ListElectrodes(keys.data(), 512, "stim"));
  ASSERT_EQ(keys.size(), 32u);
  EXPECT_EQ(keys.front(), 96);
  keys.resize(512);
  EXPECT_EQ(cache->ListElectrodes(keys.data(), 40, ""), 40);
  EXPECT_EQ(cache->ListElectrodes(keys.data(), 512, "ALL"), 0);
}

}  // namespace
}  // namespace vorn
