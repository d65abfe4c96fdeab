#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModuleData.h"
#include "RecordBuilder.h"

namespace vorn {
namespace {

using build::Bytes;

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
  std::unique_ptr<ModuleData> data;
};

Bytes Stream(uint8_t type, const std::string& name, uint8_t period = 1, uint16_t channels = 4,
             const std::string& label = "", uint8_t flags = 0) {
  return build::OutputStream(flags, type, period, 0, channels, 1.0f, label, name);
}

Bytes StreamBlock(uint16_t count, uint16_t first) {
  return build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, count, first, "Output Stream Block");
}

// Every route agrees with the buffer queries it stands for.
void ExpectRoutesMatchQueries(const ModuleData& m) {
  for (int s = 0; s < 256; ++s) {
    const StreamRoute& r = m.Route(static_cast<uint8_t>(s));
    EXPECT_EQ(r.cont, m.GetContBuffer(s)) << s;
    EXPECT_EQ(r.hiRes, m.GetFloatBuffer(s)) << s;
    EXPECT_EQ(r.segment, m.GetSegmentBuffer(s)) << s;
    EXPECT_EQ(r.highRes, m.IsHighResStream(s)) << s;
  }
}

TEST(ModuleData, SlotsCountArrivalsAndListWhatIsMissing) {
  TestModule m(6);
  EXPECT_EQ(m.data->GetSlotCount(), 6);
  EXPECT_EQ(m.data->GetModuleDesc().Size(), kModuleDescBytes);
  EXPECT_FALSE(m.data->IsComplete());
  EXPECT_TRUE(m.Put(2, build::Bool(1)));
  EXPECT_TRUE(m.Put(2, build::Int(5)));   // a replacement does not count again
  EXPECT_EQ(m.data->GetReceivedCount(), 2);
  std::vector<int> missing;
  m.data->ListMissingProperties(&missing);
  EXPECT_EQ(missing, (std::vector<int>{1, 3, 4, 5}));
  EXPECT_TRUE(m.data->GetProperty(2).IsType(VORN_TYPE_INT));
  EXPECT_TRUE(m.data->GetProperty(-1).Empty());
  EXPECT_TRUE(m.data->GetProperty(6).Empty());
  for (uint16_t i : {1, 3, 4, 5}) m.Put(i, build::Bool(0));
  EXPECT_TRUE(m.data->IsComplete());
}

TEST(ModuleData, IgnoresWrongVendorShortRecordsAndIndexesBeyondTheSlots) {
  TestModule m(4);
  Bytes foreign = build::Bool(1);
  foreign[0] = 2;
  EXPECT_FALSE(m.Put(1, foreign));
  EXPECT_FALSE(m.Put(4, build::Bool(1)));
  EXPECT_FALSE(m.Put(0, build::ProcessorDesc(3)));   // slot 0 stays the module descriptor
  EXPECT_EQ(*m.data->GetModuleDesc().Name(), "test module");
  Bytes p = build::ConfigPacket(KEL_PROCESSOR, 3, 0, KEL_PROCESSOR, 3, 1, {});
  EXPECT_FALSE(m.data->ProcessProperty(p.data(), p.size()));
  EXPECT_FALSE(m.data->ProcessProperty(p.data(), 6));
  EXPECT_EQ(m.data->GetReceivedCount(), 1);

  // A descriptor without property slots makes a module that never completes.
  Bytes desc = build::ModuleDesc(1, 4, 0, "empty");
  ModuleData empty(desc.data(), desc.size());
  EXPECT_FALSE(empty.IsComplete());
  EXPECT_TRUE(empty.GetModuleDesc().Empty());
  EXPECT_TRUE(empty.GetStreamBlock().Empty());
}

TEST(ModuleData, RegistersStreamsByTypeWithTheirBuffers) {
  TestModule m(20);
  m.Put(1, StreamBlock(8, 10));
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "raw", 1, 32));
  m.Put(11, Stream(VORN_STREAM_TYPE_FLOAT, "hi-res", 15, 32));
  m.Put(12, Stream(VORN_STREAM_TYPE_DIGEST, "", 30, 2, "Digest Label"));   // known by its label
  m.Put(13, Stream(VORN_STREAM_TYPE_SEGMENT, "spk"));
  m.Put(14, Stream(VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, "whatever"));
  m.Put(15, Stream(VORN_STREAM_TYPE_DIGITAL, "dig"));
  m.Put(16, Stream(VORN_STREAM_TYPE_MULTIPART, "multi"));
  m.Put(17, Stream(VORN_STREAM_TYPE_PROPRIETARY, "secret"));

  EXPECT_EQ(m.data->FindStream("raw"), 1);
  EXPECT_EQ(m.data->FindStream("hi-res"), 2);
  EXPECT_EQ(m.data->FindStream("Digest Label"), 3);
  EXPECT_EQ(m.data->FindStream("spk"), 4);
  EXPECT_EQ(m.data->FindStream("digin"), 5);
  for (const char* name : {"whatever", "dig", "multi", "secret"}) {
    EXPECT_EQ(m.data->FindStream(name), -1) << name;
  }
  std::vector<std::string> names;
  m.data->ListStreamNames(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"Digest Label", "digin", "hi-res", "raw", "spk"}));

  ASSERT_NE(m.data->GetContBuffer(1), nullptr);
  EXPECT_EQ(m.data->GetContBuffer(1)->GetCapacity(), 150000u);
  EXPECT_EQ(m.data->GetContBuffer(3)->GetCapacity(), 5000u);
  ASSERT_NE(m.data->GetFloatBuffer(2), nullptr);
  EXPECT_EQ(m.data->GetFloatBuffer(2)->GetCapacity(), 10000u);
  EXPECT_NE(m.data->GetSegmentBuffer(4), nullptr);
  EXPECT_NE(m.data->GetEventBuffer(), nullptr);
  EXPECT_EQ(m.data->GetContBuffer(6), nullptr);
  EXPECT_TRUE(m.data->GetOutputStream(6).IsType(VORN_TYPE_OUTPUT_STREAM_DESC));   // stored all the same
  EXPECT_TRUE(m.data->GetOutputStream(0).Empty());
  EXPECT_TRUE(m.data->GetOutputStream(9).Empty());
  ExpectRoutesMatchQueries(*m.data);
  EXPECT_FALSE(m.data->Route(1).highRes);
  EXPECT_TRUE(m.data->Route(2).highRes);
}

TEST(ModuleData, SecondArrivalReplacesTheRecordButNotTheRegistration) {
  TestModule m(12);
  m.Put(1, StreamBlock(4, 8));
  m.Put(8, Stream(VORN_STREAM_TYPE_CONTINUOUS, "raw", 1, 4));
  ContDataBuffer<int16_t>* first = m.data->GetContBuffer(1);
  m.Put(8, Stream(VORN_STREAM_TYPE_CONTINUOUS, "renamed", 2, 8));
  EXPECT_EQ(m.data->GetContBuffer(1), first);
  EXPECT_EQ(first->GetChannelCount(), 4u);
  EXPECT_EQ(m.data->FindStream("renamed"), -1);
  EXPECT_EQ(*m.data->GetOutputStream(1).Name(), "renamed");
}

TEST(ModuleData, NameCollisionsResolveAsTheStreamRulesSay) {
  TestModule m(60);
  m.Put(1, StreamBlock(45, 10));
  // Two continuous streams of one name: the later number wins, and the
  // earlier stream, left without a name, routes as high-resolution.
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "lfp"));
  m.Put(11, Stream(VORN_STREAM_TYPE_CONTINUOUS, "lfp"));
  EXPECT_EQ(m.data->FindStream("lfp"), 2);
  EXPECT_TRUE(m.data->IsHighResStream(1));
  EXPECT_FALSE(m.data->IsHighResStream(2));
  // Segment streams of one name resolve to the smallest number.
  m.Put(49, Stream(VORN_STREAM_TYPE_SEGMENT, "spk"));   // stream 40
  m.Put(18, Stream(VORN_STREAM_TYPE_SEGMENT, "spk"));   // stream 9
  EXPECT_EQ(m.data->FindStream("spk"), 9);
  // A float stream takes its name even from a continuous one; no label fallback.
  m.Put(12, Stream(VORN_STREAM_TYPE_FLOAT, "", 1, 1, "Label"));
  EXPECT_EQ(m.data->FindStream(""), 3);
  EXPECT_EQ(m.data->FindStream("Label"), -1);
  ExpectRoutesMatchQueries(*m.data);
}

TEST(ModuleData, StreamBlockArrivingLastRegistersTheStreamsItCovers) {
  const std::vector<std::pair<uint16_t, Bytes>> records = {
      {8, Stream(VORN_STREAM_TYPE_CONTINUOUS, "raw", 1, 4)},
      {9, Stream(VORN_STREAM_TYPE_FLOAT, "hi-res", 15, 4)},
      {10, Stream(VORN_STREAM_TYPE_SEGMENT, "spk")},
      {11, Stream(VORN_STREAM_TYPE_SEGMENT, "spk")},
      {12, Stream(VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT, "")},
  };
  TestModule inOrder(16), reversed(16);
  inOrder.Put(1, StreamBlock(5, 8));
  for (const auto& [i, r] : records) inOrder.Put(i, r);
  for (auto it = records.rbegin(); it != records.rend(); ++it) reversed.Put(it->first, it->second);
  EXPECT_EQ(reversed.data->FindStream("raw"), -1);   // no block yet: nothing registered
  reversed.Put(1, StreamBlock(5, 8));

  std::vector<std::string> a, b;
  inOrder.data->ListStreamNames(&a);
  reversed.data->ListStreamNames(&b);
  EXPECT_EQ(a, b);
  for (const std::string& name : a) {
    EXPECT_EQ(inOrder.data->FindStream(name), reversed.data->FindStream(name)) << name;
  }
  for (int s = 1; s <= 5; ++s) {
    EXPECT_EQ(inOrder.data->GetContBuffer(s) != nullptr, reversed.data->GetContBuffer(s) != nullptr);
    EXPECT_EQ(inOrder.data->GetFloatBuffer(s) != nullptr, reversed.data->GetFloatBuffer(s) != nullptr);
    EXPECT_EQ(inOrder.data->GetSegmentBuffer(s) != nullptr,
              reversed.data->GetSegmentBuffer(s) != nullptr);
  }
  EXPECT_NE(reversed.data->GetEventBuffer(), nullptr);
  ExpectRoutesMatchQueries(*reversed.data);

  // The block arriving again registers nothing twice.
  ContDataBuffer<int16_t>* raw = reversed.data->GetContBuffer(1);
  reversed.Put(1, StreamBlock(5, 8));
  EXPECT_EQ(reversed.data->GetContBuffer(1), raw);
}

TEST(ModuleData, StreamsOutsideTheBlockOrWithoutUsableShapeGetNoBuffer) {
  BufferBudget budget;
  budget.limit = 150000 * 32 * 2 + 1000;   // room for one 32-channel ring at 30 kHz
  TestModule m(20, 4, &budget);
  m.Put(1, StreamBlock(6, 10));
  m.Put(9, Stream(VORN_STREAM_TYPE_CONTINUOUS, "before"));         // index below the block
  m.Put(16, Stream(VORN_STREAM_TYPE_CONTINUOUS, "after"));         // stream 7 of 6
  m.Put(10, Stream(VORN_STREAM_TYPE_CONTINUOUS, "no rate", 0, 4));
  m.Put(11, Stream(VORN_STREAM_TYPE_CONTINUOUS, "too wide", 1, 600));   // no packet holds a frame
  m.Put(12, Stream(VORN_STREAM_TYPE_CONTINUOUS, "first", 1, 32));
  m.Put(13, Stream(VORN_STREAM_TYPE_CONTINUOUS, "over budget", 1, 32));
  Bytes shortDesc = Stream(VORN_STREAM_TYPE_CONTINUOUS, "short");
  shortDesc.resize(12);
  m.Put(14, shortDesc);

  EXPECT_EQ(m.data->FindStream("before"), -1);
  EXPECT_EQ(m.data->FindStream("after"), -1);
  EXPECT_EQ(m.data->FindStream("no rate"), 1);   // named, but no buffer
  EXPECT_EQ(m.data->GetContBuffer(1), nullptr);
  EXPECT_EQ(m.data->GetContBuffer(2), nullptr);
  EXPECT_NE(m.data->GetContBuffer(3), nullptr);
  EXPECT_EQ(m.data->GetContBuffer(4), nullptr);
  EXPECT_EQ(m.data->GetContBuffer(5), nullptr);
  EXPECT_EQ(budget.used, size_t{150000} * 32 * 2);
  ExpectRoutesMatchQueries(*m.data);
}

TEST(ModuleData, BlockLookupsFollowTheDescriptorRange) {
  TestModule m(10, 3);
  m.Put(1, build::PropertyBlockDesc(VORN_TYPE_PHYSICAL_CHANNEL_DESC, 2, 5, "Channels"));
  m.Put(3, build::PropertyBlockDesc(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC, 1, 6, "Scope"));
  m.Put(2, build::PropertyBlockDesc(VORN_TYPE_INT, 4, 7, "Stim Control Descriptor Block"));
  m.Put(4, build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 1, 8, "beyond the range"));
  EXPECT_EQ(*m.data->GetPhysicalChannelBlock().FirstItem(), 5);
  EXPECT_EQ(*m.data->GetScopeDescBlock().FirstItem(), 6);   // the range itself, inclusive
  EXPECT_TRUE(m.data->FindBlock(VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC).Empty());
  EXPECT_EQ(*m.data->GetStimControlBlock().ItemCount(), 4);
  EXPECT_TRUE(m.data->GetStreamBlock().Empty());
}

TEST(ModuleData, FiltersAreFoundByTheirKeyInAnyCase) {
  EXPECT_EQ(ModuleData::FilterKey("Spike Filter"), "spike");
  EXPECT_EQ(ModuleData::FilterKey("LFP FILTER bank"), "lfp");
  EXPECT_EQ(ModuleData::FilterKey("Notch"), "notch");
  EXPECT_EQ(ModuleData::FilterKey("Filter"), "filter");

  TestModule m(20);
  m.Put(1, build::ScopeDesc(VORN_TYPE_COMBO, 1, 5, "Spike Filter"));
  m.Put(2, build::ScopeDesc(VORN_TYPE_COMBO, 2, 5, "Wide Filter"));   // item count not 1
  m.Put(3, build::ScopeDesc(VORN_TYPE_BOOL, 1, 5, "Bool Filter"));    // not a combo box
  m.Put(4, build::ScopeDesc(VORN_TYPE_COMBO, 1, 5, "Gain"));          // not a filter
  m.Put(5, build::ComboBox(0, 6, 3));
  m.Put(6, build::ComboItem(9));
  m.Put(7, build::ComboItem(10));
  m.Put(8, build::Bool(0));   // item 2 is not a combo box item
  m.Put(9, build::SosFilter("a", 1, 2, 3, 1, 1, 1, 6, {{0.2f, 0.4f, -0.5f, 0.3f}}));
  m.Put(10, build::Int(0));   // item 1 points at a record that is no filter

  std::vector<std::string> names;
  m.data->ListFilterNames(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"spike"}));
  int prop = -1;
  EXPECT_FALSE(m.data->FindFilter("SPIKE", &prop).Empty());
  EXPECT_EQ(prop, 5);
  EXPECT_FALSE(m.data->FindFilter("spike filter").Empty());
  EXPECT_TRUE(m.data->FindFilter("wide").Empty());
  EXPECT_FALSE(m.data->GetSosFilter("Spike", 0, &prop).Empty());
  EXPECT_EQ(prop, 9);
  EXPECT_TRUE(m.data->GetSosFilter("spike", 1, &prop).Empty());
  EXPECT_TRUE(m.data->GetSosFilter("spike", 2, &prop).Empty());
  EXPECT_TRUE(m.data->GetSosFilter("spike", 3, &prop).Empty());
  EXPECT_TRUE(m.data->GetSosFilter("spike", -1, &prop).Empty());
}

TEST(ModuleData, SignalEnableFollowsTheChainOfTypedRecords) {
  TestModule m(20);
  m.Put(1, StreamBlock(3, 10));
  m.Put(10, build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 13, 2, 1, "", "raw"));
  m.Put(11, build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 14, 2, 1, "", "bad signal"));
  m.Put(12, build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 19, 2, 1, "", "beyond"));
  m.Put(13, build::SignalDesc(15));
  m.Put(14, build::Bool(1));   // not a signal descriptor
  m.Put(15, build::Bool(1));
  int prop = -1;
  BoolView e = m.data->GetSignalEnable(1, &prop);
  ASSERT_FALSE(e.Empty());
  EXPECT_EQ(prop, 15);
  EXPECT_EQ(*e.Value(), 1);
  EXPECT_TRUE(m.data->GetSignalEnable(2, &prop).Empty());
  EXPECT_TRUE(m.data->GetSignalEnable(3, &prop).Empty());
  EXPECT_TRUE(m.data->GetSignalEnable(4, &prop).Empty());
}

}  // namespace
}  // namespace vorn
