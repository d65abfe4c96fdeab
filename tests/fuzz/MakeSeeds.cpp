// Writes the seed corpus of the cache fuzzer (tests/fuzz/corpus): what the
// simulator's instrument of FuzzInstrument.h sends while it runs (data,
// segments, events, operator records), configuration changes and malformed
// packets, in the fuzzer's input format (each datagram preceded by its
// length, u16 LE). Rebuild the corpus with:
//   cmake --build BUILD --target make_seeds && BUILD/tests/fuzz/make_seeds tests/fuzz/corpus
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzInstrument.h"
#include "RecordBuilder.h"
#include "SimFeed.h"

using namespace vorn;
using build::Bytes;
using test::SimFeed;

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
  bool Write(const std::string& dir, const std::string& name) const {
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
  }
};

std::vector<Bytes> Select(const std::vector<Bytes>& packets, int module, int stream) {
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    if (p[hdr::kModule] == module && p[hdr::kStream] == stream) out.push_back(p);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  vornsim::SimOptions options = test::FuzzOptions();
  options.contStreams = vornsim::ContStreams::kAll;   // raw frames of both front ends too
  options.spikeRate = 1000;                           // a spike per channel and an event per ms
  options.eventRate = 1000;
  SimFeed sim(options);
  const int channels = options.channels;
  bool ok = true;

  const std::vector<Bytes> firstMs = sim.Run(30);   // as the simulator packs it
  const std::vector<Bytes> sent = SimFeed::Packets(sim.Run(30));
  {  // A slice of everything a running instrument sends.
    Seed s;
    for (const Bytes& d : firstMs) s.Datagram({d});
    ok &= s.Write(dir, "mixed-stream");
  }
  {  // Raw frames of both front ends (modules 1 and 3), with a gap and a step back.
    Seed s;
    const std::vector<Bytes> a = Select(sent, 1, 1), b = Select(sent, 3, 1);
    for (size_t k : {0, 1, 2, 10, 5}) s.Datagram({a.at(k), b.at(k)});
    ok &= s.Write(dir, "raw-frames");
  }
  {  // Spikes (keys 5 and 36), a stim waveform (key 34: the stim front end's channel 2, stream
     // 6 + 2) and digital events, one of them from a module other than 34.
    Seed s;
    const Bytes spikeA = Select(sent, 2, 6).at(0), spikeB = Select(sent, 4, 5).at(0);
    const Bytes event = Select(sent, 34, 1).at(0);
    const uint32_t t = LoadU32(&event[hdr::kTime]);
    s.Datagram({spikeA, spikeB, build::SegmentPacket(3, 8, t + 1, {}), event,
                build::EventPacket(1, 1, t + 2, 2, 1, {1, 2, 3, 4})});
    ok &= s.Write(dir, "segments-events");
  }
  {  // Configuration changes on front end 1 (streams from property 3 + C, signals from 8 + C:
     // sim/LAYOUT.md) and its spike processor: the stream block grows over a signal
     // descriptor, hi-res changes shape, a filter points past the slots, a module appears,
     // and 16-bit frames arrive for the float stream.
    Seed s;
    const uint16_t streams = static_cast<uint16_t>(3 + channels);
    s.Datagram({build::ConfigPacket(1, 1, 0, 1, 1, 2,
                                    build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 6, streams,
                                                             "Output Stream Block"))});
    s.Datagram({build::ConfigPacket(1, 1, 0, 1, 1, static_cast<uint16_t>(streams + 1),
                                    build::OutputStream(0, VORN_STREAM_TYPE_FLOAT, 3,
                                                        static_cast<uint16_t>(streams + 6), 4, 1.0f,
                                                        "x", "hi-res"))});
    s.Datagram({build::ConfigPacket(1, 2, 0, 1, 2, 4,
                                    build::ScopeDesc(VORN_TYPE_COMBO, 1, 80, "Notch Filter"))});
    s.Datagram({build::ConfigPacket(1, 50, 0, 1, 50, 0, build::ModuleDesc(1, 3, 4, "new"))});
    s.Datagram({build::ContPacket(1, 2, 500, std::vector<int16_t>(static_cast<size_t>(channels), 3))});
    ok &= s.Write(dir, "config-changes");
  }
  {  // The operator workstations' answers (descriptors and trial records), a trial record
     // of a workstation the instrument does not have, and a stray record.
    Seed s;
    for (const Bytes& d : sim.Send(SimFeed::Request(255, 0, 0xFFFF))) s.Datagram({d});
    s.Datagram({build::ConfigPacket(130, 0, 0, 130, 0, 1, build::TrialRecord(1, "run", 0, 1, 2))});
    s.Datagram({build::ConfigPacket(131, 0, 0, 131, 0, 0, build::Bool(1))});
    ok &= s.Write(dir, "operators");
  }
  {  // Malformed: wrong sample count, short segment, short event, zero size.
    Seed s;
    Bytes seg = Select(sent, 2, 1).at(0);
    seg[kSegmentSampleCountOffset] = 51;
    Bytes shortSeg = Select(sent, 2, 2).at(0);
    shortSeg.resize(116);
    shortSeg[0] = 29;
    Bytes ev = Select(sent, 34, 1).at(0);
    ev.resize(24);
    ev[0] = 6;
    s.Datagram({seg, shortSeg, ev});
    s.Datagram({Bytes{0, 1, 1, 1, 0, 0, 0, 0}});
    ok &= s.Write(dir, "malformed");
  }
  if (!ok) {
    std::fprintf(stderr, "make_seeds: cannot write the seeds into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
