// A simulator without sockets or a clock for the unit tests: the instrument
// model sends into a recording transport, packets are fed in directly, and
// the log goes to a temporary file that the test reads back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "GoldenBytes.h"
#include "SimInstrument.h"   // with the options, packer, transport and log
#include "VornCache.h"

namespace vornsim {
namespace test {

using Bytes = std::vector<uint8_t>;
using vorn::test::BytesEqual;
using vorn::test::Hex;

class RecordingTransport : public SimTransport {
 public:
  size_t SendDatagrams(const uint8_t* const* data, const size_t* lengths, size_t count) override {
    for (size_t i = 0; i < count; ++i) datagrams.emplace_back(data[i], data[i] + lengths[i]);
    return count;
  }
  int ReceiveOne(uint8_t*, size_t, uint32_t*) override { return -1; }
  std::vector<Bytes> datagrams;
};

// Splits a datagram into packets by their size bytes; fails the test when
// the sizes do not tile the datagram exactly.
inline std::vector<Bytes> SplitDatagram(const Bytes& d) {
  std::vector<Bytes> out;
  for (size_t off = 0, len = 0; off < d.size(); off += len) {
    len = static_cast<size_t>(d[off]) * 4;
    if (len == 0 || off + len > d.size()) {
      ADD_FAILURE() << "datagram does not split into packets at offset " << off;
      break;
    }
    out.emplace_back(d.begin() + off, d.begin() + off + len);
  }
  return out;
}

inline std::string Zeros(size_t n) { return std::string(2 * n, '0'); }
inline std::string TextHex(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return out;
}

// The command line "vornsim args...": its options, or a failed test.
inline SimOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vornsim");
  SimOptions o;
  std::string error;
  EXPECT_EQ(ParseSimOptions(static_cast<int>(args.size()), args.data(), &o, &error), ParseResult::kRun)
      << error;
  return o;
}

// A property request packet, as the extension sends it.
inline Bytes Request(uint8_t processor, uint8_t module, uint16_t index) {
  Bytes p = {3, 0, 0, 0, 0, 0, 0, 0, processor, module, 0, 0};
  vorn::StoreU16(&p[10], index);
  return p;
}

class Harness {
 public:
  // The fault rates come from the options, as vornsim takes them.
  explicit Harness(const SimOptions& options = SimOptions())
      : packer_(transport_, FaultRates{options.lossPercent, options.dupPercent,
                                       options.reorderPercent, options.seed}) {
    char path[] = "/tmp/vornsim_log_XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    logPath_ = path;
    log_.Open(logPath_);
    sim_ = std::make_unique<SimInstrument>(options, packer_, log_);
  }
  ~Harness() { unlink(logPath_.c_str()); }

  SimInstrument& sim() { return *sim_; }
  SimPacker& packer() { return packer_; }
  std::vector<Bytes>& datagrams() { return transport_.datagrams; }

  // Feeds one datagram as if it came from the host.
  void Receive(const Bytes& datagram) { sim_->HandleDatagram(datagram.data(), datagram.size(), 0xC0A82A14u); }
  void Receive(const std::string& hex) { Receive(Hex(hex)); }

  // Everything sent since the last call, split into packets.
  std::vector<Bytes> Sent() {
    packer_.Flush();
    std::vector<Bytes> packets;
    for (const Bytes& d : transport_.datagrams) {
      EXPECT_LE(d.size(), 1499u);
      for (Bytes& p : SplitDatagram(d)) packets.push_back(std::move(p));
    }
    transport_.datagrams.clear();
    return packets;
  }

  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The last log line holds every one of parts.
  ::testing::AssertionResult Logged(const std::vector<std::string>& parts) const {
    const auto lines = LogLines();
    const std::string last = lines.empty() ? "" : lines.back();
    for (const std::string& p : parts) {
      if (last.find(p) == std::string::npos) return ::testing::AssertionFailure() << p << " not in " << last;
    }
    return ::testing::AssertionSuccess();
  }

  // The start-up's discovery, fed into cache: every descriptor, then every
  // property of the modules still incomplete.
  void Discover(vorn::VornCache& cache) {
    Receive(Request(255, 0, 0));
    Receive(Request(1, 0, 5));
    Receive(Request(1, 255, 0));
    for (const Bytes& p : Sent()) cache.ProcessPacket(p.data(), p.size());
    for (int id : cache.ListIncompleteModules()) Receive(Request(1, static_cast<uint8_t>(id), 0xFFFF));
    for (const Bytes& p : Sent()) cache.ProcessPacket(p.data(), p.size());
  }

 private:
  RecordingTransport transport_;
  SimPacker packer_;
  SimLog log_;
  std::string logPath_;
  std::unique_ptr<SimInstrument> sim_;
};

// A set packet (time field 1) of a property, or with module 0 and index 1
// and processor `target`, of an operator's trial record.
inline Bytes SetPacket(uint8_t module, uint16_t index, const Bytes& record, uint8_t target = 1) {
  Bytes p((12 + record.size() + 3) / 4 * 4, 0);
  p[0] = static_cast<uint8_t>(p.size() / 4);
  p[4] = 1;
  p[8] = target;
  p[9] = module;
  vorn::StoreU16(&p[10], index);
  std::copy(record.begin(), record.end(), p.begin() + 12);
  return p;
}

// Packets of a given (processor, module, stream).
inline std::vector<Bytes> Select(const std::vector<Bytes>& packets, int processor, int module, int stream) {
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    if (p[1] == processor && p[2] == module && p[3] == stream) out.push_back(p);
  }
  return out;
}

// Operator 129's answer to a trial request at tick 0, with this status.
inline std::string OperatorTrialReply(const std::string& statusHex) {
  return "8d810000 30750000 81000100"                      // size 141, address 129/0/1
         "01150000 81000000 00000000 00000000 01000000" +   // type 21, id, stop 0, incr 0, num 1
         Zeros(8) + TextHex("C:\\data\\op129\\trial") + Zeros(493) + statusHex + Zeros(8);
}

}  // namespace test
}  // namespace vornsim
