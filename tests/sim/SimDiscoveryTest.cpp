// What the simulator answers to the start-up's discovery requests, byte for
// byte, and that the answers make the extension's cache complete and give it
// the documented electrode index and stimulation map (sim/LAYOUT.md).
#include <set>

#include "GoldenBytes.h"
#include "ModuleData.h"
#include "SimHarness.h"
#include "VornCache.h"

namespace vornsim {
namespace test {
namespace {

using vorn::test::BytesEqual;
using vorn::test::Hex;

// Clock start 30000 = 0x7530: the time field of every reply at tick 0.
const std::string kTime = "30750000";

std::string ModuleZeroDescriptorReply() {
  return "59010000" + kTime + "01000000" +             // size 89, processor 1, address 1/0/0
         "01090000" + Zeros(6) + "0000" + "0300" + "0800" +  // front end 0, range 3, count 8
         Zeros(136) + TextHex("KEL") + Zeros(189);
}

std::string ProcessorDescriptorReply() {
  return "13010000" + kTime + "01000500" +             // size 19, address 1/0/5
         "010c0000" + "0000" + "2200" + Zeros(8) +    // highest module 34
         TextHex("KEL") + Zeros(45);
}

std::string OperatorDescriptorReply() {
  return "15810000" + kTime + "81000000" +             // processor 129, address 129/0/0
         "01140000" + "81000000" + TextHex("Osprane 129") + Zeros(53);
}

std::string OperatorTrialReply() {
  return "8d810000" + kTime + "81000100" +             // size 141, address 129/0/1
         "01150000" + "81000000" +                      // vendor, type 21, operator id
         "00000000" + "00000000" + "01000000" +        // stop_time, auto_incr, incr_num
         Zeros(8) + TextHex("C:\\data\\op129\\trial") + Zeros(493) +
         "01000000" + Zeros(8);                         // status stopped
}

TEST(SimDiscovery, EveryProcessorAnswersTheFirstRequestWithItsDescriptor) {
  Harness h;
  h.Receive(Request(255, 0, 0));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex(ModuleZeroDescriptorReply())));
  EXPECT_TRUE(BytesEqual(sent[1], Hex(OperatorDescriptorReply())));
  EXPECT_EQ(sent[2][1], 131);
  EXPECT_EQ(sent[2][13], vorn::VORN_TYPE_OPERATOR_DESC);
}

TEST(SimDiscovery, PropertyFiveOfTheProcessorIsTheProcessorDescriptor) {
  Harness h;
  h.Receive(Request(1, 0, 5));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex(ProcessorDescriptorReply())));
}

TEST(SimDiscovery, AllModulesRequestGivesEveryDescriptorThenTheProcessorDescriptor) {
  Harness h;
  h.Receive(Request(1, 255, 0));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 36u);
  for (size_t m = 0; m < 35; ++m) {
    EXPECT_EQ(sent[m][2], m);
    EXPECT_EQ(sent[m][13], vorn::VORN_TYPE_MODULE_DESC) << "module " << m;
    EXPECT_EQ(vorn::LoadU16(&sent[m][10]), 0);
  }
  EXPECT_TRUE(BytesEqual(sent[0], Hex(ModuleZeroDescriptorReply())));
  EXPECT_TRUE(BytesEqual(sent[35], Hex(ProcessorDescriptorReply())));
  EXPECT_NE(h.LastLog().find("\"kind\":\"request\""), std::string::npos);
  EXPECT_NE(h.LastLog().find("\"answered\":36"), std::string::npos);
}

TEST(SimDiscovery, AllPropertiesRequestAnswersEverySlotInOrder) {
  Harness h;
  for (int module : {0, 1, 2, 9, 11, 12, 34}) {
    const auto* desc = h.sim().Property(module, 0);
    ASSERT_NE(desc, nullptr);
    const uint16_t count = vorn::LoadU16(desc->data() + 14);
    h.Receive(Request(1, static_cast<uint8_t>(module), 0xFFFF));
    const auto sent = h.Sent();
    ASSERT_EQ(sent.size(), count) << "module " << module;
    for (uint16_t i = 0; i < count; ++i) {
      EXPECT_EQ(sent[i][2], module);
      EXPECT_EQ(vorn::LoadU16(&sent[i][10]), i);
      EXPECT_EQ(sent[i][12], 1) << "vendor of module " << module << " property " << i;
    }
  }
}

TEST(SimDiscovery, OperatorAnswersTheTrialRequestWithItsRecord) {
  Harness h;
  h.Receive(Hex("03000000 01000000 81000100"));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex(OperatorTrialReply())));
  EXPECT_NE(h.LastLog().find("\"kind\":\"trial_request\""), std::string::npos);
}

TEST(SimDiscovery, RequestsNobodyAnswersAreLoggedWithNoAnswer) {
  Harness h;
  h.Receive(Request(1, 200, 0xFFFF));   // no such module
  h.Receive(Request(1, 12, 5));         // filler module has only its descriptor
  h.Receive(Request(140, 0, 1));        // no such operator
  EXPECT_TRUE(h.Sent().empty());
  for (const auto& line : h.LogLines()) EXPECT_NE(line.find("\"answered\":0"), std::string::npos);
}

TEST(SimDiscovery, MissingAndSilentModulesHoldBackWhatTheySay) {
  SimOptions o;
  o.missingModules = {7};
  o.silentModules = {{5, 1}};   // silent for its first property request
  Harness h(o);
  h.Receive(Request(1, 255, 0));
  std::set<int> described;
  for (const auto& p : h.Sent()) described.insert(p[2]);
  EXPECT_EQ(described.count(7), 0u);
  EXPECT_EQ(described.count(5), 1u);

  h.Receive(Request(1, 7, 0xFFFF));
  EXPECT_TRUE(h.Sent().empty());
  h.Receive(Request(1, 5, 0xFFFF));
  auto first = h.Sent();
  ASSERT_EQ(first.size(), 1u);   // the descriptor only
  EXPECT_EQ(vorn::LoadU16(&first[0][10]), 0);
  h.Receive(Request(1, 5, 0xFFFF));
  EXPECT_EQ(h.Sent().size(), 205u);
}

// Feeds everything the simulator sent into a cache.
void Feed(vorn::VornCache& cache, const std::vector<Bytes>& packets) {
  for (const Bytes& p : packets) cache.ProcessPacket(p.data(), p.size());
}

// The start-up's discovery against the simulator, without sockets.
void Discover(Harness& h, vorn::VornCache& cache) {
  h.Receive(Request(255, 0, 0));
  h.Receive(Request(1, 0, 5));
  h.Receive(Request(1, 255, 0));
  Feed(cache, h.Sent());
  ASSERT_TRUE(cache.AllModulesPresent());
  for (int id : cache.ListIncompleteModules()) h.Receive(Request(1, static_cast<uint8_t>(id), 0xFFFF));
  Feed(cache, h.Sent());
}

TEST(SimDiscovery, CacheBecomesReadyWithTheDocumentedElectrodes) {
  Harness h;
  vorn::VornCache cache;
  Discover(h, cache);
  ASSERT_TRUE(cache.IsReady());
  EXPECT_EQ(cache.GetModuleCount(), 35u);

  std::vector<int32_t> keys(600);
  const int n = cache.ListElectrodes(keys.data(), 600, "");
  keys.resize(static_cast<size_t>(n));
  std::vector<int32_t> expected;
  for (int k = 0; k < 160; ++k) expected.push_back(k);
  for (int k = 0; k < 16; ++k) expected.push_back(10240 + k);
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(cache.FindElectrodeModule(0), 1);
  EXPECT_EQ(cache.FindElectrodeModule(127), 7);
  EXPECT_EQ(cache.FindElectrodeModule(128), 9);
  EXPECT_EQ(cache.FindElectrodeModule(10243), 11);
  EXPECT_FALSE(cache.HasElectrode(160));
  EXPECT_FALSE(cache.HasElectrode(10256));   // "Analog Out 1"

  std::vector<int32_t> stimKeys(64);
  EXPECT_EQ(cache.ListElectrodes(stimKeys.data(), 64, "stim"), 32);
  EXPECT_EQ(stimKeys[0], 128);

  const auto stimMap = cache.BuildStimElectrodeMap();
  ASSERT_EQ(stimMap.size(), 32u);
  for (int c = 0; c < 32; ++c) EXPECT_EQ(stimMap.at(128 + c), std::make_pair(9, 302 + c));

  int module = -1, index = -1;
  const auto stimEnable = cache.FindStimEnable(&module, &index);
  EXPECT_EQ(module, 0);
  EXPECT_EQ(index, 6);
  EXPECT_EQ(stimEnable.Value(), 0);
}

TEST(SimDiscovery, CacheSeesTheDocumentedStreamsFiltersAndSwitches) {
  Harness h;
  vorn::VornCache cache;
  Discover(h, cache);
  ASSERT_TRUE(cache.IsReady());
  int module = -1, prop = -1, channels = -1;
  EXPECT_EQ(cache.GetStreamEnable(0, "raw", &module, &prop, &channels), 1);
  EXPECT_EQ(module, 1);
  EXPECT_EQ(prop, 45);
  EXPECT_EQ(channels, 32);
  EXPECT_EQ(cache.GetStreamEnable(32, "raw", &module, &prop, &channels), 0);
  EXPECT_EQ(cache.GetStreamEnable(5, "spk", &module, &prop, &channels), 1);
  EXPECT_EQ(module, 2);
  EXPECT_EQ(prop, 69 + 5);
  EXPECT_EQ(cache.GetStreamEnable(10240, "raw", &module, &prop, &channels), 0);
  EXPECT_EQ(cache.GetDigitalInputEnable(&module, &prop), 1);
  EXPECT_EQ(prop, 17);

  // "rms" is known by its label only; "diag" and "temp" are hidden.
  EXPECT_FALSE(cache.FindStreamForElectrode(0, "rms", nullptr, nullptr).Empty());
  EXPECT_TRUE(cache.FindStreamForElectrode(0, "diag", nullptr, nullptr).Hidden());
  EXPECT_TRUE(cache.FindStreamForElectrode(10240, "temp", nullptr, nullptr).Hidden());

  std::vector<std::string> filters;
  cache.ListFilterTypes(&filters, 10, 0);
  EXPECT_EQ(filters, (std::vector<std::string>{"lfp", "spike"}));
  const auto combo = cache.FindFilterCombo(0, "Spike Filter", &module, &prop);
  EXPECT_EQ(module, 2);
  EXPECT_EQ(prop, 101);
  EXPECT_EQ(combo.Selection(), 1);
  const auto sos = cache.GetFilterDesc(0, "lfp", 2, &module, &prop);
  EXPECT_EQ(prop, 117);
  EXPECT_EQ(sos.NumStages(), 2);
  EXPECT_EQ(sos.Coef(1, 2), -0.75f);
}

TEST(SimDiscovery, FullProfileGivesFiveHundredTwelveFrontEndElectrodes) {
  SimOptions o;
  std::string error;
  const char* argv[] = {"vornsim", "--profile", "full"};
  ASSERT_EQ(ParseSimOptions(3, argv, &o, &error), ParseResult::kRun);
  Harness h(o);
  vorn::VornCache cache;
  Discover(h, cache);
  ASSERT_TRUE(cache.IsReady());
  std::vector<int32_t> keys(600);
  ASSERT_EQ(cache.ListElectrodes(keys.data(), 600, ""), 512 + 16);   // and the analog inputs
  EXPECT_EQ(keys[511], 511);
  EXPECT_EQ(cache.FindElectrodeModule(511), 31);
  EXPECT_EQ(cache.FindElectrodeModule(10240), 33);
  EXPECT_EQ(cache.BuildStimElectrodeMap().begin()->first, 128);
}

TEST(SimDiscovery, DataOfEnabledStreamsLandsInTheCacheWithTheDocumentedValues) {
  Harness h;
  vorn::VornCache cache;
  Discover(h, cache);
  ASSERT_TRUE(cache.IsReady());
  h.sim().Advance(3000);   // 100 ms
  Feed(cache, h.Sent());
  EXPECT_TRUE(cache.IsConfigValid());
  EXPECT_EQ(cache.GetLatestTime(), 30000u + 2970u);

  // Electrode 6 (key 5), raw: the newest 10 frames.
  std::vector<float> out(10);
  uint32_t t0 = 0;
  ASSERT_EQ(cache.GetContData(&t0, out.data(), 10, 5, 1, 1, 0), 10u);
  for (uint32_t j = 0; j < 10; ++j) {
    const uint32_t t = t0 + j + 1;
    const int base = static_cast<int>((t + 97 * 5 + 1009 * 1 + 31 * 1) % 4096) - 2048;
    EXPECT_EQ(out[j], base * 0.25f) << "column " << j;
  }
  // The float stream: period 15.
  ASSERT_EQ(cache.GetContData(&t0, out.data(), 4, 5, 1, 2, 0), 4u);
  for (uint32_t j = 0; j < 4; ++j) {
    const uint32_t t = t0 + 15 * (j + 1);
    EXPECT_EQ(out[j], (static_cast<int>((t + 97 * 5 + 1009 * 2 + 31) % 4096) - 2048) / 16.0f);
  }
  // Digital events at 10 Hz: ticks 0 (and no other before 3000).
  std::vector<uint8_t> events(1024 * 28);
  EXPECT_EQ(cache.GetDigitalEvents(events.data(), 1024), 1u);
}

}  // namespace
}  // namespace test
}  // namespace vornsim
