#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "ModuleData.h"
#include "RecordBuilder.h"
#include "SimFeed.h"
#include "VornCache.h"

namespace vorn {
namespace {

using build::Bytes;
using test::SimFeed;
using Strings = std::vector<std::string>;

// A module of `slots` properties whose blocks sit at indexes 1 .. range - 1.
struct TestModule {
  explicit TestModule(uint16_t slots, uint16_t range = 4, BufferBudget* budget = nullptr) {
    Bytes desc = build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, range, slots, "test module");
    data = std::make_unique<ModuleData>(desc.data(), desc.size(), budget);
  }
  bool Put(uint16_t index, const Bytes& record) {
    Bytes p = build::ConfigPacket(KEL_PROCESSOR, 3, 0, KEL_PROCESSOR, 3, index, record);
    return data->ProcessProperty(p.data(), p.size());
  }
  ModuleData* operator->() const { return data.get(); }
  std::unique_ptr<ModuleData> data;
};

Bytes Stream(uint8_t type, const std::string& name, uint8_t period = 1, uint16_t channels = 4,
             const std::string& label = "") {
  return build::OutputStream(0, type, period, 0, channels, 1.0f, label, name);
}

Bytes StreamBlock(uint16_t count, uint16_t first) {
  return build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, count, first, "Output Stream Block");
}

// m's routes agree with its buffer queries, and it registered the streams `like` did.
void ExpectRoutes(const ModuleData& m, const ModuleData& like) {
  Strings names, likeNames;
  m.ListStreamNames(&names);
  like.ListStreamNames(&likeNames);
  EXPECT_EQ(names, likeNames);
  for (const std::string& n : names) EXPECT_EQ(m.FindStream(n), like.FindStream(n)) << n;
  for (int s = 0; s < 256; ++s) {
    const StreamRoute &r = m.Route(s), &l = like.Route(s);
    EXPECT_TRUE(r.cont == m.GetContBuffer(s) && r.hiRes == m.GetFloatBuffer(s) &&
                r.segment == m.GetSegmentBuffer(s) && r.highRes == m.IsHighResStream(s)) << s;
    EXPECT_TRUE(!r.cont == !l.cont && !r.hiRes == !l.hiRes && !r.segment == !l.segment &&
                r.highRes == l.highRes) << s;
  }
  EXPECT_EQ(!m.GetEventBuffer(), !like.GetEventBuffer());
}

TEST(ModuleData, CountsEachSlotOnceAndRefusesForeignShortOrOutOfRangeRecords) {
  TestModule m(6);
  EXPECT_TRUE(m.Put(2, build::Bool(1)));
  EXPECT_TRUE(m.Put(2, build::Int(5)));   // a replacement does not count again
  Bytes foreign = build::Bool(1), empty = build::ConfigPacket(1, 3, 0, 1, 3, 1, {});
  foreign[0] = 2;
  EXPECT_FALSE(m.Put(1, foreign));
  EXPECT_FALSE(m.Put(6, build::Bool(1)));
  EXPECT_FALSE(m.Put(0, build::ProcessorDesc(3)));   // slot 0 stays the module descriptor
  EXPECT_FALSE(m->ProcessProperty(empty.data(), empty.size()));
  EXPECT_FALSE(m->ProcessProperty(empty.data(), 6));
  EXPECT_EQ(*m->GetModuleDesc().Name(), "test module");
  EXPECT_TRUE(m->GetProperty(2).IsType(VORN_TYPE_INT));
  EXPECT_TRUE(m->GetProperty(-1).Empty() && m->GetProperty(6).Empty());
  std::vector<int> missing;
  m->ListMissingProperties(&missing);
  EXPECT_EQ(missing, (std::vector<int>{1, 3, 4, 5}));
  for (uint16_t i : {1, 3, 4}) m.Put(i, build::Bool(0));
  EXPECT_FALSE(m->IsComplete());
  m.Put(5, build::Bool(0));
  EXPECT_TRUE(m->IsComplete());
  Bytes desc = build::ModuleDesc(1, 4, 0, "no slots");   // never completes
  EXPECT_FALSE(ModuleData(desc.data(), desc.size()).IsComplete());
}

TEST(ModuleData, RegistersStreamsByTypeOnceAndResolvesNameCollisionsByKind) {
  TestModule m(60);
  m.Put(1, StreamBlock(45, 10));
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "raw", 1, 32));
  m.Put(11, Stream(VORN_STREAM_TYPE_FLOAT, "hi-res", 15, 32));
  m.Put(12, Stream(VORN_STREAM_TYPE_DIGEST, "", 30, 2, "Digest Label"));   // known by its label
  m.Put(13, Stream(VORN_STREAM_TYPE_SEGMENT, "spk"));
  m.Put(14, Stream(VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, "whatever"));
  m.Put(15, Stream(VORN_STREAM_TYPE_DIGITAL, "dig"));
  m.Put(16, Stream(VORN_STREAM_TYPE_MULTIPART, "multi"));
  m.Put(17, Stream(VORN_STREAM_TYPE_PROPRIETARY, "secret"));
  Strings names;
  m->ListStreamNames(&names);
  ASSERT_EQ(names, (Strings{"Digest Label", "digin", "hi-res", "raw", "spk"}));
  const int numbers[] = {3, 5, 2, 1, 4};
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(m->FindStream(names[i]), numbers[i]) << names[i];
  EXPECT_EQ(m->GetContBuffer(1)->GetCapacity(), 150000u);
  EXPECT_EQ(m->GetFloatBuffer(2)->GetCapacity(), 10000u);
  EXPECT_EQ(m->GetContBuffer(3)->GetCapacity(), 5000u);
  EXPECT_TRUE(m->GetSegmentBuffer(4) && m->GetEventBuffer() && !m->GetContBuffer(6));
  EXPECT_FALSE(m->Route(1).highRes);
  EXPECT_TRUE(m->Route(2).highRes);
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "renamed", 2, 8));   // not registered again
  EXPECT_EQ(m->FindStream("renamed"), -1);
  // Continuous: the later number wins; the earlier, left without a name, routes as high-res.
  m.Put(18, Stream(VORN_STREAM_TYPE_CONTINUOUS, "raw"));
  EXPECT_EQ(m->FindStream("raw"), 9);
  EXPECT_TRUE(m->Route(1).highRes);
  m.Put(49, Stream(VORN_STREAM_TYPE_SEGMENT, "seg"));   // segments: the smallest number wins
  m.Put(20, Stream(VORN_STREAM_TYPE_SEGMENT, "seg"));
  EXPECT_EQ(m->FindStream("seg"), 11);
  m.Put(21, Stream(VORN_STREAM_TYPE_FLOAT, "", 1, 1, "Label"));   // float: no label fallback
  EXPECT_EQ(m->FindStream(""), 12);
  EXPECT_EQ(m->FindStream("Label"), -1);
  ExpectRoutes(*m.data, *m.data);
  m.Put(17, Stream(VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, ""));   // a second event stream:
  EXPECT_EQ(m->GetEventBuffer(), nullptr);                         // none unless exactly one
}

TEST(ModuleData, StreamsOutsideTheBlockOrWithoutAUsableShapeOrBudgetGetNoBuffer) {
  BufferBudget budget;
  budget.limit = 150000 * 32 * 2 + 1000;   // room for one 32-channel ring at 30 kHz
  TestModule m(20, 4, &budget);
  m.Put(1, StreamBlock(6, 10));
  m.Put(9, Stream(VORN_STREAM_TYPE_CONTINUOUS, "before"));   // index below the block
  m.Put(16, Stream(VORN_STREAM_TYPE_CONTINUOUS, "after"));   // stream 7 of 6
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "no rate", 0, 4));
  m.Put(11, Stream(VORN_STREAM_TYPE_CONTINUOUS, "too wide", 1, 600));   // no packet holds a frame
  m.Put(12, Stream(VORN_STREAM_TYPE_CONTINUOUS, "first", 1, 32));
  m.Put(13, Stream(VORN_STREAM_TYPE_CONTINUOUS, "over budget", 1, 32));
  Bytes shortDesc = Stream(VORN_STREAM_TYPE_CONTINUOUS, "short");
  shortDesc.resize(12);
  m.Put(14, shortDesc);
  EXPECT_EQ(m->FindStream("before"), -1);
  EXPECT_EQ(m->FindStream("after"), -1);
  EXPECT_EQ(m->FindStream("no rate"), 1);   // named, but no buffer
  for (int s : {1, 2, 4, 5}) EXPECT_EQ(m->GetContBuffer(s), nullptr) << s;
  EXPECT_NE(m->GetContBuffer(3), nullptr);
  EXPECT_EQ(budget.used, size_t{150000} * 32 * 2);
  ExpectRoutes(*m.data, *m.data);
}

TEST(ModuleData, BlocksAreLookedUpWithinTheDescriptorRange) {
  TestModule m(10, 3);
  m.Put(1, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 2, 5, "Channels"));
  m.Put(3, build::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 1, 6, "Scope"));
  m.Put(2, build::PropertyBlockDesc(VORN_TYPE_INT, 4, 7, "Stim Control Descriptor Block"));
  m.Put(4, build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 1, 8, "beyond the range"));
  EXPECT_EQ(*m->GetPhysicalChannelBlock().FirstItem(), 5);
  EXPECT_EQ(*m->GetScopeDescBlock().FirstItem(), 6);   // the range itself, inclusive
  EXPECT_TRUE(m->FindBlock(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC).Empty());
  EXPECT_EQ(*m->GetStimControlBlock().ItemCount(), 4);
  EXPECT_TRUE(m->GetStreamBlock().Empty());
}

TEST(ModuleData, FiltersAndSignalEnablesAreFoundThroughWellTypedRecordsOnly) {
  EXPECT_EQ(ModuleData::FilterKey("LFP FILTER bank"), "lfp");
  TestModule m(30, 13);
  m.Put(1, build::ScopeDesc(VORN_TYPE_COMBO, 1, 5, "Spike Filter"));
  m.Put(2, build::ScopeDesc(VORN_TYPE_COMBO, 2, 5, "Wide Filter"));   // item count not 1
  m.Put(3, build::ScopeDesc(VORN_TYPE_BOOL, 1, 5, "Bool Filter"));    // not a combo box
  m.Put(4, build::ScopeDesc(VORN_TYPE_COMBO, 1, 5, "Gain"));          // not a filter
  m.Put(5, build::ComboBox(0, 6, 3));
  m.Put(6, build::ComboItem(10));
  m.Put(7, build::ComboItem(11));   // points at a record that is no filter
  m.Put(8, build::Bool(0));         // not a combo box item
  m.Put(9, build::ComboItem(10));   // beyond the item count
  m.Put(10, build::SosFilter("a", 1, 2, 3, 1, 1, 1, 6, {{0.2f, 0.4f, -0.5f, 0.3f}}));
  m.Put(11, build::Int(0));
  Strings names;
  m->ListFilterNames(&names);
  EXPECT_EQ(names, (Strings{"spike"}));
  int prop = -1;
  EXPECT_FALSE(m->FindFilter("SPIKE", &prop).Empty());
  EXPECT_EQ(prop, 5);
  EXPECT_FALSE(m->GetSosFilter("Spike filter", 0, &prop).Empty());
  EXPECT_EQ(prop, 10);
  for (int selection : {-1, 1, 2, 3}) EXPECT_TRUE(m->GetSosFilter("spike", selection, &prop).Empty());

  // Stream -> signal descriptor -> enable Bool. Streams 2 and 3 break the chain with records
  // of another type, stream 4 points beyond the slots.
  Bytes notSignal = build::SignalDesc(27), notBool = build::Bool(1);
  notSignal[1] = notBool[1] = VORN_TYPE_INT;
  m.Put(12, StreamBlock(4, 20));
  for (uint16_t i = 0; i < 4; ++i) {
    const uint16_t signal = i == 3 ? 39 : 24 + i;
    m.Put(20 + i, build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, signal, 2, 1, "", "s"));
  }
  m.Put(24, build::SignalDesc(27));
  m.Put(25, notSignal);
  m.Put(26, build::SignalDesc(28));
  m.Put(27, build::Bool(1));
  m.Put(28, notBool);
  ASSERT_FALSE(m->GetSignalEnable(1, &prop).Empty());
  EXPECT_EQ(prop, 27);
  for (int s : {2, 3, 4, 5}) EXPECT_TRUE(m->GetSignalEnable(s, &prop).Empty()) << s;
}

// The simulator's default instrument (sim/LAYOUT.md): front ends 1 .. 5 at modules 1, 3, .., 9
// (electrode keys 0 .. 159, 32 each; module 9 is the stim front end), their spike processors
// at 2, 4, .., 10, analog inputs at 11 (keys 10240 .. 10255), fillers up to 33, digital I/O at
// 34. Its samples are scaled by 0.25 (16-bit streams and spikes) and 1 (float, stim).
void Feed(VornCache& cache, const Bytes& p) { cache.ProcessPacket(p.data(), p.size()); }
void Feed(VornCache& cache, const std::vector<Bytes>& packets) {
  for (const Bytes& p : packets) Feed(cache, p);
}

std::unique_ptr<VornCache> ReadyCache(const SimFeed& sim) {
  auto cache = std::make_unique<VornCache>();
  sim.Feed(*cache);
  return cache;
}

// The keys 'elec' lists: electrodes 0 .. electrodes - 1, then the analog inputs.
std::vector<int> ElectrodeKeys(int electrodes, int analogInputs) {
  std::vector<int> keys;
  for (int k = 0; k < electrodes; ++k) keys.push_back(k);
  for (int c = 0; c < analogInputs; ++c) keys.push_back(kAnalogInputKeyBase + c);
  return keys;
}

std::vector<Bytes> Select(const std::vector<Bytes>& packets, int module, int stream) {
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    if (p[hdr::kModule] == module && p[hdr::kStream] == stream) out.push_back(p);
  }
  return out;
}

Bytes Concat(const std::vector<Bytes>& packets) {
  Bytes out;
  for (const Bytes& p : packets) build::Append(out, p);
  return out;
}

class NeverReadyCache : public VornCache {
 public:
  void CheckReady() override {}
};

TEST(VornCacheStartUp, StatusFollowsDiscoveryAndTurnsReadyOnTheLastProperty) {
  SimFeed sim;
  const auto& packets = sim.ConfigPackets();   // processor descriptor, descriptors, properties
  ASSERT_EQ(sim.ModuleCount(), 35);
  VornCache cache;
  EXPECT_EQ(cache.GetStatus(), 1);   // no time yet
  Feed(cache, packets[0]);           // processor descriptor: highest module 34
  EXPECT_EQ(cache.GetExpectedModuleCount(), 35u);
  EXPECT_EQ(cache.GetStatus(), 2);   // modules missing
  for (int i = 1; i <= 35; ++i) Feed(cache, packets[i]);
  EXPECT_EQ(cache.GetStatus(), 3);   // properties missing
  EXPECT_EQ(cache.ListMissingProperties(34).size(), 53u);
  for (size_t i = 36; i + 1 < packets.size(); ++i) Feed(cache, packets[i]);
  EXPECT_EQ(cache.ListIncompleteModules(), (std::vector<int>{34}));
  EXPECT_FALSE(cache.IsReady());
  Feed(cache, packets.back());
  EXPECT_EQ(cache.GetStatus(), 0);
  EXPECT_EQ(cache.GetModuleCount(), 35u);
  NeverReadyCache stuck;
  sim.Feed(stuck);
  EXPECT_EQ(stuck.GetStatus(), 5);   // all present but not ready
}

TEST(VornCacheStartUp, FullInstrumentIsIndexedWithElectrodesAndStimMap) {
  SimFeed sim(SimFeed::FullProfile());   // front ends at 1, 3, .., 31, analog inputs at 33
  auto cache = ReadyCache(sim);
  ASSERT_TRUE(cache->IsReady());
  EXPECT_EQ(cache->GetModuleCount(), 35u);
  std::vector<int32_t> keys(1024);
  const int n = cache->ListElectrodes(keys.data(), 1024, "");
  EXPECT_EQ(std::vector<int>(keys.begin(), keys.begin() + n), ElectrodeKeys(512, 16));
  for (auto [key, module] :
       {std::pair{295, 19}, {511, 31}, {130, 9}, {10243, 33}, {10256, -1}, {512, -1}}) {
    EXPECT_EQ(cache->FindElectrodeModule(key), module) << key;   // 10256: "Analog Out 1"
    EXPECT_EQ(cache->HasElectrode(key), module >= 0) << key;
  }
  EXPECT_EQ(cache->ListElectrodes(keys.data(), 40, ""), 40);
  EXPECT_EQ(cache->ListElectrodes(keys.data(), 1024, "stim"), 32);   // by module name
  auto stim = cache->BuildStimElectrodeMap();   // the stim front end's electrodes, 128 .. 159
  ASSERT_EQ(stim.size(), 32u);
  EXPECT_EQ(stim.begin()->first, 128);
  const vornsim::SimLayout& layout = sim.Layout();
  for (const auto& [key, target] : stim) {
    EXPECT_EQ(target, std::make_pair(9, layout.stimControlFirst + key - 128)) << key;
  }
  int module = -1, index = -1;
  ASSERT_FALSE(cache->FindStimEnable(&module, &index).Empty());
  EXPECT_EQ(std::make_pair(module, index), std::make_pair(0, int{layout.stimEnableProp}));
}

TEST(VornCacheStartUp, PropertiesInReverseOrderGiveTheSameCacheAndResendingChangesNothing) {
  SimFeed sim;
  std::vector<Bytes> packets = sim.ConfigPackets();
  // Descriptors first (discovery asks for them first), then the properties
  // last first: every block arrives after the records it lists.
  std::reverse(packets.begin() + 1 + sim.ModuleCount(), packets.end());
  VornCache reversed;
  Feed(reversed, packets);
  auto ordered = ReadyCache(sim);
  ASSERT_TRUE(reversed.IsReady());
  for (int m = 0; m <= 34; ++m) {
    ASSERT_EQ(!ordered->GetModule(m), !reversed.GetModule(m)) << m;
    if (ordered->GetModule(m)) ExpectRoutes(*reversed.GetModule(m), *ordered->GetModule(m));
  }
  EXPECT_EQ(reversed.BuildStimElectrodeMap(), ordered->BuildStimElectrodeMap());
  for (int key : ElectrodeKeys(160, 16)) EXPECT_TRUE(reversed.HasElectrode(key)) << key;
  ContDataBuffer<int16_t>* raw = reversed.GetModule(1)->GetContBuffer(1);
  sim.Feed(reversed);
  EXPECT_EQ(reversed.GetModule(1)->GetContBuffer(1), raw);
  EXPECT_EQ(reversed.GetBufferMemoryUsed(), ordered->GetBufferMemoryUsed());
}

TEST(VornCacheStartUp, HandMadeRecordsThatAreForeignShortOrBeyondTheSlotsAreSkipped) {
  VornCache cache;
  auto cfg = [&](uint8_t m, uint16_t i, const Bytes& r) {
    Feed(cache, build::ConfigPacket(1, m, 5, 1, m, i, r));
  };
  Bytes foreign = build::ModuleDesc(1, 2, 2, "x");
  foreign[0] = 9;
  cfg(5, 0, foreign);
  Bytes module = build::ConfigPacket(1, 5, 0, 1, 5, 0, build::ModuleDesc(1, 2, 2, "x"));
  cache.ProcessPacket(module.data(), 24);   // ends before the property count
  Bytes proc = build::ConfigPacket(1, 0, 3, 1, 0, 0, build::ProcessorDesc(7));
  cache.ProcessPacket(proc.data(), 16);     // ends before the highest-module field
  EXPECT_EQ(cache.GetModule(5), nullptr);
  EXPECT_EQ(cache.GetExpectedModuleCount(), 0xFFFFFFFFu);

  // A front end whose channel and stim control blocks run past its slots.
  cfg(0, 0, build::ProcessorDesc(0));
  cfg(0, 0, build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, 3, 5, "stim front end"));
  cfg(0, 1, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 40, 3, "Channels"));
  cfg(0, 2, build::PropertyBlockDesc(VORN_TYPE_INT, 9, 4, "Stim Control Descriptor Block"));
  cfg(0, 3, build::PhysicalChannel(0, 0, 1, 0, "c0"));
  cfg(0, 4, build::Int(0));
  ASSERT_TRUE(cache.IsReady());
  EXPECT_TRUE(cache.HasElectrode(32));
  EXPECT_EQ(cache.BuildStimElectrodeMap(), (std::map<int, std::pair<int, int>>{{32, {0, 4}}}));
}

TEST(VornCacheRegistry, OperatorsAreKeptPerWorkstationWithWholeTrialRecords) {
  VornCache cache;
  Bytes trial = build::TrialRecord(1, "C:\\data\\run", 0, 1, 7);
  Feed(cache, build::ConfigPacket(131, 0, 0, 131, 0, 1, trial));
  Feed(cache, build::ConfigPacket(129, 0, 0, 129, 0, 1, build::Bool(1)));   // only the entry
  Feed(cache, build::ConfigPacket(255, 0, 0, 1, 0, 1, trial));   // "every processor" is none
  Feed(cache, build::ConfigPacket(2, 0, 0, 1, 0, 1, trial));     // not an operator
  int ids[8];
  ASSERT_EQ(cache.ListOperators(ids, 8), 2);
  EXPECT_EQ(std::vector<int>(ids, ids + 2), (std::vector<int>{129, 131}));
  EXPECT_EQ(cache.ListOperators(ids, 1), 1);
  EXPECT_TRUE(cache.CopyOperatorTrial(0).empty());   // the lowest, 129, has no record
  EXPECT_EQ(cache.CopyOperatorTrial(131), trial);
  Bytes part(trial.begin(), trial.begin() + 40);   // completed with zeros
  Feed(cache, build::ConfigPacket(131, 0, 0, 131, 0, 1, part));
  part.resize(kTrialRecordBytes, 0);
  EXPECT_EQ(cache.CopyOperatorTrial(131), part);
  cache.ClearOperatorTrial(131);
  cache.ClearOperatorTrial(200);   // unknown: nothing happens
  EXPECT_TRUE(cache.CopyOperatorTrial(131).empty() && cache.HasOperator(131));
}

// The default instrument with its clock starting at 1, every continuous
// stream on, and a spike on every channel and a digital event every 300 ticks.
class ReadyCacheTest : public ::testing::Test {
 protected:
  static vornsim::SimOptions Running() {
    vornsim::SimOptions o;
    o.clockStart = 1;
    o.contStreams = vornsim::ContStreams::kAll;
    o.spikeRate = 100;
    o.eventRate = 100;
    return o;
  }
  SimFeed sim{Running()};
  std::unique_ptr<VornCache> cache = ReadyCache(sim);
};

TEST_F(ReadyCacheTest, ContinuousFramesGoToTheirStreamsAndGroupedReadsEqualSingleOnes) {
  Feed(*cache, SimFeed::Packets(sim.Run(300)));   // clock 1 .. 300
  // Electrode 37 (channel 5 of front end 2, module 3): raw, hi-res, lfp, rms and a stream
  // number the module lacks; then the raw streams of others, two sharing its ring.
  const std::pair<int, int> what[] = {{37, 1}, {37, 2}, {37, 3}, {37, 4}, {37, 6},
                                      {33, 1}, {63, 1}, {0, 1},  {127, 1}};
  const size_t count = std::size(what);
  std::vector<std::vector<float>> many(count, std::vector<float>(250)), single = many;
  std::vector<ContRead> reads;
  for (size_t i = 0; i < count; ++i) {
    const int e = what[i].first;
    reads.push_back(ContRead{e, 2 * (e / 32) + 1, what[i].second, many[i].data()});
  }
  for (uint32_t wanted : {0u, 100u}) {
    cache->GetContDataMany(reads.data(), reads.size(), 250, wanted);
    for (size_t i = 0; i < reads.size(); ++i) {
      const ContRead& r = reads[i];
      uint32_t t = 0;
      uint32_t n =
          cache->GetContData(&t, single[i].data(), 250, r.electrode, r.module, r.stream, wanted);
      EXPECT_EQ(r.values, n) << i;
      EXPECT_EQ(r.hasTime ? r.time : 0u, t) << i;
      EXPECT_TRUE(std::equal(single[i].begin(), single[i].begin() + n, many[i].begin())) << i;
    }
  }
  // The simulator's 16-bit samples of (module, stream, channel) at time t, scaled.
  auto sample = [](int module, int stream, int channel, uint32_t t) {
    return vornsim::SimDataGenerator::ContSample(module, stream, channel, t) * 0.25f;
  };
  EXPECT_EQ(std::make_pair(reads[0].values, reads[0].time), std::make_pair(200u, 100u));   // from 100 on
  for (uint32_t j = 0; j < 200; ++j) ASSERT_EQ(many[0][j], sample(3, 1, 5, 101 + j)) << j;
  // Hi-res frames come at 1, 16, .., 286 and lfp frames at 1, 31, .., 271: 12 and 5 after 100.
  EXPECT_EQ(std::make_pair(reads[1].values, many[1][11]),
            std::make_pair(12u, vornsim::SimDataGenerator::FloatSample(3, 2, 5, 286)));
  EXPECT_EQ(std::make_pair(reads[2].values, many[2][4]), std::make_pair(5u, sample(3, 3, 5, 271)));
  EXPECT_EQ(reads[4].values, 0u);
  EXPECT_EQ(many[5][199], sample(3, 1, 1, 300));
  EXPECT_EQ(many[8][199], sample(7, 1, 31, 300));
  EXPECT_TRUE(cache->IsConfigValid());
}

TEST_F(ReadyCacheTest, SegmentsAndEventsAreDrainedPerElectrode) {
  const std::vector<Bytes> packets = SimFeed::Packets(sim.Run(600));
  Feed(*cache, packets);
  // Stim waveforms live on the stim front end itself (module 9, keys 128 .. 159), channel 4's
  // on stream 10.
  Feed(*cache, build::SegmentPacket(9, 10, 900, {}));
  // Digital events land in module 34's buffer whichever known module sent them.
  const Bytes foreign = build::EventPacket(9, 1, 1001, 2, 5, {0xFFFF, 0, 0, 0});
  Feed(*cache, foreign);
  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  // Each electrode drains, once, exactly the spikes sent for it (key 32 + c: module 4,
  // stream c + 1; the waveform carries c as a marker).
  for (int key : {37, 38}) {
    const std::vector<Bytes> sent = Select(packets, 4, key - 31);
    ASSERT_EQ(sent.size(), 2u) << key;
    ASSERT_EQ(cache->GetSpikeSegments(out.data(), 1024, key), 2u) << key;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2 * kSegmentPacketBytes), Concat(sent)) << key;
    EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, key), 0u) << key;
  }
  EXPECT_EQ(cache->GetStimSegments(out.data(), 1024, 5), 0u);   // no "stim" on module 1
  EXPECT_EQ(cache->GetStimSegments(out.data(), 1024, 132), 1u);
  EXPECT_EQ(cache->GetSpikeScale(37), 0.25);
  EXPECT_EQ(cache->GetStimScale(132), 1.0);
  std::vector<Bytes> events = Select(packets, 34, 1);   // at ticks 0 and 300
  ASSERT_EQ(events.size(), 2u);
  events.push_back(foreign);
  ASSERT_EQ(cache->GetDigitalEvents(out.data(), 1024), 3u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3 * kEventPacketBytes), Concat(events));
  EXPECT_TRUE(cache->IsConfigValid());
}

TEST_F(ReadyCacheTest, MalformedDataPacketsAreDroppedWithoutReadingBeyondThem) {
  const std::vector<Bytes> sent = SimFeed::Packets(sim.Run(300));   // not fed
  Bytes spike = Select(sent, 4, 6).at(0), event = Select(sent, 34, 1).at(0),
        raw = Select(sent, 3, 1).at(0);   // electrode 37's spike, an event, raw of module 3
  Bytes wrongCount = spike;
  StoreU16(&wrongCount[kSegmentSampleCountOffset], 51);
  const std::pair<const Bytes*, size_t> packets[] = {
      {&wrongCount, wrongCount.size()}, {&spike, 116}, {&event, 24},   // 51 samples, then cut short
      {&raw, raw.size() - 4}, {&raw, 9}, {&raw, 4}};
  for (const auto& [p, length] : packets) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);   // reads past it show under ASan
    std::copy(p->begin(), p->begin() + length, exact.get());
    cache->ProcessPacket(exact.get(), length);
  }
  Feed(*cache, build::ContPacket(3, 1, 60, std::vector<int16_t>(32, 1), kContSkipFlag));
  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  EXPECT_EQ(cache->GetSpikeSegments(out.data(), 1024, 37), 0u);
  EXPECT_EQ(cache->GetDigitalEvents(out.data(), 1024), 0u);
  EXPECT_EQ(cache->GetModule(3)->GetContBuffer(1)->GetLastTimestamp(), 0u);
  EXPECT_TRUE(cache->IsConfigValid() && cache->IsReady());
  EXPECT_EQ(cache->GetCounters().malformed, 6u);

  vornsim::SimOptions noDigin;   // module 34 without its event stream: events have no buffer
  noDigin.diginFault = vornsim::DiginFault::kStream;
  auto noIo = ReadyCache(SimFeed(noDigin));
  Feed(*noIo, build::EventPacket(1, 1, 10, 1, 2, {0, 0, 0, 0}));
  EXPECT_EQ(noIo->GetCounters().malformed, 1u);
  EXPECT_TRUE(noIo->IsConfigValid() && noIo->IsReady());
}

TEST_F(ReadyCacheTest, DataTheConfigurationCannotHoldMarksItChanged) {
  sim.Sim().SetUnknownModuleData(true);   // one packet per ms from module 200
  const std::vector<Bytes> sent = SimFeed::Packets(sim.Run(30));
  const Bytes packets[] = {
      build::ContPacket(3, 77, 10, {1, 2}),   // a stream without a buffer
      Select(sent, 200, 1).at(0),             // an unknown module
      build::SegmentPacket(3, 1, 10, {}),     // a segment for a continuous stream
  };
  for (const Bytes& p : packets) {
    auto fresh = ReadyCache(sim);
    Feed(*fresh, p);
    EXPECT_FALSE(fresh->IsConfigValid());
    EXPECT_EQ(fresh->GetStatus(), 4);
  }
  // A module announcing itself makes the cache wait for it; data meanwhile is dropped.
  Feed(*cache, build::ConfigPacket(1, 40, 0, 1, 40, 0, build::ModuleDesc(1, 2, 2, "late")));
  EXPECT_FALSE(cache->IsReady());
  Feed(*cache, Select(sent, 1, 1).at(0));
  EXPECT_EQ(cache->GetModule(1)->GetContBuffer(1)->GetLastTimestamp(), 0u);
  EXPECT_EQ(cache->GetCounters().droppedNotReady, 1u);
  Feed(*cache, build::ConfigPacket(1, 0, 0, 1, 0, 5, build::ProcessorDesc(35)));   // 0 .. 34 and 40
  EXPECT_FALSE(cache->IsReady());
  Feed(*cache, build::ConfigPacket(1, 40, 0, 1, 40, 1, build::Bool(0)));
  EXPECT_TRUE(cache->IsReady());
}

}  // namespace
}  // namespace vorn
