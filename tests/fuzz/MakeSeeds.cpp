// Writes the seed corpus of the cache fuzzer (tests/fuzz/corpus): datagrams
// of a running instrument, configuration changes and operator records, in
// the fuzzer's input format (each datagram preceded by its length, u16 LE).
// Rebuild the corpus with:
//   g++ -std=c++17 -I VornLib -I tests/support tests/fuzz/MakeSeeds.cpp \
//       VornLib/RecordBuilder.cpp -o /tmp/make-seeds && /tmp/make-seeds tests/fuzz/corpus
#include <cstdio>
#include <string>
#include <vector>

#include "RecordBuilder.h"
#include "ScriptedInstrument.h"

using namespace vorn;
using build::Bytes;

namespace {

struct Seed {
  Bytes bytes;
  void Datagram(const std::vector<Bytes>& packets) {
    Bytes d;
    for (const Bytes& p : packets) build::Append(d, p);
    bytes.push_back(static_cast<uint8_t>(d.size()));
    bytes.push_back(static_cast<uint8_t>(d.size() >> 8));
    build::Append(bytes, d);
  }
  void Write(const std::string& dir, const std::string& name) const {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  test::InstrumentOptions o;
  o.frontEnds = 2;
  o.stimFrontEnd = 1;
  test::ScriptedInstrument inst(o);

  {  // Raw frames of both front ends, with a gap and a step back.
    Seed s;
    for (uint32_t t : {100u, 101u, 102u, 110u, 105u}) s.Datagram({inst.RawPacket(0, t), inst.RawPacket(1, t)});
    s.Write(dir, "raw-frames");
  }
  {  // A slice of everything a running instrument sends.
    Seed s;
    Bytes stream = inst.DataStream(1, 45, 5, 20);
    size_t pos = 0;
    while (pos < stream.size()) {
      std::vector<Bytes> packets;
      size_t bytes = 0;
      while (pos < stream.size() && bytes + stream[pos] * 4u < 1400) {
        size_t len = stream[pos] * 4u;
        packets.emplace_back(stream.begin() + pos, stream.begin() + pos + len);
        bytes += len;
        pos += len;
      }
      s.Datagram(packets);
    }
    s.Write(dir, "mixed-stream");
  }
  {  // Spikes, stim waveforms and digital events.
    Seed s;
    std::array<int16_t, kSegmentSampleCount> samples{};
    s.Datagram({inst.SpikePacket(5, 300), inst.SpikePacket(40, 301),
                build::SegmentPacket(3, test::ScriptedInstrument::kFirstStimStream + 2, 302, samples),
                inst.EventPacket(303, 7), build::EventPacket(1, 1, 304, 2, 1, {1, 2, 3, 4})});
    s.Write(dir, "segments-events");
  }
  {  // Configuration changes: a new stream block, new streams, a new module.
    Seed s;
    s.Datagram({build::ConfigPacket(1, 1, 0, 1, 1, 2,
                                    build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 6, 37,
                                                             "Output Stream Block"))});
    s.Datagram({build::ConfigPacket(1, 1, 0, 1, 1, 40,
                                    build::OutputStream(0, VORN_STREAM_TYPE_FLOAT, 3, 43, 8, 1.0f,
                                                        "x", "hi-res"))});
    s.Datagram({build::ConfigPacket(1, 2, 0, 1, 2, 4,
                                    build::ScopeDesc(VORN_TYPE_COMBO, 1, 80, "Notch Filter"))});
    s.Datagram({build::ConfigPacket(1, 50, 0, 1, 50, 0, build::ModuleDesc(1, 3, 4, "new"))});
    s.Datagram({build::ContPacket(1, 2, 500, std::vector<int16_t>(32, 3))});
    s.Write(dir, "config-changes");
  }
  {  // Operator workstations and their trial records.
    Seed s;
    s.Datagram({build::ConfigPacket(130, 0, 0, 130, 0, 1, build::TrialRecord(1, "run", 0, 1, 2))});
    s.Datagram({build::ConfigPacket(131, 0, 0, 131, 0, 0, build::Bool(1))});
    s.Write(dir, "operators");
  }
  {  // Malformed: short segment, wrong sample count, short event, zero size.
    Seed s;
    Bytes seg = inst.SpikePacket(1, 400);
    seg[14] = 51;
    Bytes shortSeg = inst.SpikePacket(1, 401);
    shortSeg.resize(116);
    shortSeg[0] = 29;
    Bytes ev = inst.EventPacket(402, 1);
    ev.resize(24);
    ev[0] = 6;
    s.Datagram({seg, shortSeg, ev});
    s.Datagram({Bytes{0, 1, 1, 1, 0, 0, 0, 0}});
    s.Write(dir, "malformed");
  }
  return 0;
}
