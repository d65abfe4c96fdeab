// What the simulator answers to the start-up's discovery requests, byte for
// byte, and that the answers make the extension's cache complete and give it
// the documented layout (sim/LAYOUT.md): electrodes, stimulation map and
// streams.
#include <set>
#include <tuple>

#include "ModuleData.h"
#include "SimHarness.h"

namespace vornsim {
namespace test {
namespace {

// Every reply at tick 0 has the time field 30000 = 0x7530.
const std::string kModuleZeroDescriptor =
    "59010000 30750000 01000000"                          // size 89, processor 1, address 1/0/0
    "01090000" + Zeros(6) + "0000 0300 0800" +            // front end 0, range 3, count 8
    Zeros(136) + TextHex("KEL") + Zeros(189);
const std::string kProcessorDescriptor =
    "13010000 30750000 01000500"                          // size 19, address 1/0/5
    "010c0000 0000 2200" + Zeros(8) + TextHex("KEL") + Zeros(45);   // highest module 34

std::string OperatorDescriptor(const std::string& idHex, const std::string& id) {
  return "15" + idHex + "0000 30750000" + idHex + "000000 01140000" + idHex + "000000" +
         TextHex("Osprane " + id) + Zeros(53);
}

TEST(SimDiscovery, RequestsAreAnsweredByteForByteAndLogged) {
  const struct {
    Bytes request;
    std::vector<std::string> replies;
    std::string logKind;
  } cases[] = {
      {Request(255, 0, 0),
       {kModuleZeroDescriptor, OperatorDescriptor("81", "129"), OperatorDescriptor("83", "131")},
       "request"},
      {Request(1, 0, 5), {kProcessorDescriptor}, "request"},
      {Request(129, 0, 1), {OperatorTrialReply("01000000")}, "trial_request"},   // status stopped
  };
  for (const auto& c : cases) {
    Harness h;
    h.Receive(c.request);
    const auto sent = h.Sent();
    ASSERT_EQ(sent.size(), c.replies.size()) << c.logKind;
    for (size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(BytesEqual(sent[i], Hex(c.replies[i])));
    EXPECT_TRUE(h.Logged({"\"kind\":\"" + c.logKind + "\""}));
  }

  // All modules: every module descriptor in order, then the processor's.
  Harness h;
  h.Receive(Request(1, 255, 0));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 36u);
  for (size_t m = 0; m < 35; ++m) {
    EXPECT_EQ(std::make_tuple(sent[m][2], sent[m][13], vorn::LoadU16(&sent[m][10])),
              std::make_tuple(static_cast<uint8_t>(m), static_cast<uint8_t>(vorn::VORN_TYPE_MODULE_DESC),
                              uint16_t{0}));
  }
  EXPECT_TRUE(BytesEqual(sent[0], Hex(kModuleZeroDescriptor)));
  EXPECT_TRUE(BytesEqual(sent[35], Hex(kProcessorDescriptor)));
  EXPECT_TRUE(h.Logged({"\"kind\":\"request\"", "\"answered\":36"}));
}

TEST(SimDiscovery, UnknownMissingAndSilentModulesHoldBackTheirAnswers) {
  Harness plain;
  plain.Receive(Request(1, 200, 0xFFFF));   // no such module
  plain.Receive(Request(1, 12, 5));         // filler module has only its descriptor
  plain.Receive(Request(140, 0, 1));        // no such operator
  EXPECT_TRUE(plain.Sent().empty());
  for (const auto& line : plain.LogLines()) EXPECT_NE(line.find("\"answered\":0"), std::string::npos);

  Harness h(Parse({"--missing-module", "7", "--silent-module", "5:1"}));
  h.Receive(Request(1, 255, 0));
  std::set<int> described;
  for (const auto& p : h.Sent()) described.insert(p[2]);
  EXPECT_EQ(described.count(7), 0u);
  EXPECT_EQ(described.count(5), 1u);
  h.Receive(Request(1, 7, 0xFFFF));
  EXPECT_TRUE(h.Sent().empty());
  h.Receive(Request(1, 5, 0xFFFF));   // silent for its first property request: the descriptor only
  EXPECT_EQ(h.Sent().size(), 1u);
  h.Receive(Request(1, 5, 0xFFFF));
  EXPECT_EQ(h.Sent().size(), 205u);
}

TEST(SimDiscovery, CacheBecomesReadyWithTheDocumentedLayout) {
  Harness h;
  vorn::VornCache cache;
  h.Discover(cache);
  ASSERT_TRUE(cache.IsReady());
  EXPECT_EQ(cache.GetModuleCount(), 35u);

  // Electrodes: 160 front-end keys, then 16 analog inputs from 10240.
  std::vector<int32_t> keys(600), expected;
  keys.resize(static_cast<size_t>(cache.ListElectrodes(keys.data(), 600, "")));
  for (int k = 0; k < 176; ++k) expected.push_back(k < 160 ? k : 10240 + k - 160);
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(std::make_tuple(cache.FindElectrodeModule(0), cache.FindElectrodeModule(127),
                            cache.FindElectrodeModule(128), cache.FindElectrodeModule(10243)),
            std::make_tuple(1, 7, 9, 11));
  EXPECT_FALSE(cache.HasElectrode(160));
  EXPECT_FALSE(cache.HasElectrode(10256));   // "Analog Out 1"

  // Stimulation: keys 128..159 through module 9, "Stim Enable" at 0/6, off.
  std::vector<int32_t> stimKeys(64);
  EXPECT_EQ(cache.ListElectrodes(stimKeys.data(), 64, "stim"), 32);
  EXPECT_EQ(stimKeys[0], 128);
  const auto stimMap = cache.BuildStimElectrodeMap();
  ASSERT_EQ(stimMap.size(), 32u);
  for (int c = 0; c < 32; ++c) EXPECT_EQ(stimMap.at(128 + c), std::make_pair(9, 302 + c));
  int module = -1, prop = -1, channels = -1;
  EXPECT_EQ(cache.FindStimEnable(&module, &prop).Value(), 0);
  EXPECT_EQ(std::tie(module, prop), std::make_tuple(0, 6));

  // Stream switches, and the streams hidden or known by label only.
  EXPECT_EQ(cache.GetStreamEnable(0, "raw", &module, &prop, &channels), 1);
  EXPECT_EQ(std::tie(module, prop, channels), std::make_tuple(1, 45, 32));
  EXPECT_EQ(cache.GetStreamEnable(5, "spk", &module, &prop, &channels), 1);
  EXPECT_EQ(std::tie(module, prop), std::make_tuple(2, 69 + 5));
  EXPECT_EQ(cache.GetDigitalInputEnable(&module, &prop), 1);
  EXPECT_EQ(std::tie(module, prop), std::make_tuple(34, 17));
  EXPECT_FALSE(cache.FindStreamForElectrode(0, "rms", nullptr, nullptr).Empty());
  EXPECT_TRUE(cache.FindStreamForElectrode(0, "diag", nullptr, nullptr).Hidden());
  EXPECT_TRUE(cache.FindStreamForElectrode(10240, "temp", nullptr, nullptr).Hidden());

  // Data of the enabled streams keeps the configuration valid.
  h.sim().Advance(3000);
  for (const Bytes& p : h.Sent()) cache.ProcessPacket(p.data(), p.size());
  EXPECT_TRUE(cache.IsConfigValid());
  EXPECT_EQ(cache.GetLatestTime(), 30000u + 2970u);
}

TEST(SimDiscovery, FullProfileGivesFiveHundredTwelveFrontEndElectrodes) {
  Harness h(Parse({"--profile", "full"}));
  vorn::VornCache cache;
  h.Discover(cache);
  ASSERT_TRUE(cache.IsReady());
  std::vector<int32_t> keys(600);
  ASSERT_EQ(cache.ListElectrodes(keys.data(), 600, ""), 512 + 16);   // and the analog inputs
  EXPECT_EQ(keys[511], 511);
  EXPECT_EQ(cache.FindElectrodeModule(511), 31);
  EXPECT_EQ(cache.FindElectrodeModule(10240), 33);
  EXPECT_EQ(cache.BuildStimElectrodeMap().begin()->first, 128);
}

}  // namespace
}  // namespace test
}  // namespace vornsim
