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
#include "SimInstrument.h"
#include "SimLog.h"
#include "SimOptions.h"
#include "SimPacker.h"
#include "SimTransport.h"

namespace vornsim {
namespace test {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kHostAddress = 0xC0A82A14u;   // 192.168.42.20

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
  size_t off = 0;
  while (off < d.size()) {
    const size_t len = static_cast<size_t>(d[off]) * 4;
    if (len == 0 || off + len > d.size()) {
      ADD_FAILURE() << "datagram does not split into packets at offset " << off;
      break;
    }
    out.emplace_back(d.begin() + off, d.begin() + off + len);
    off += len;
  }
  return out;
}

inline std::string Zeros(size_t n) { return std::string(2 * n, '0'); }
inline std::string TextHex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

class Harness {
 public:
  explicit Harness(SimOptions options = SimOptions(), FaultRates faults = FaultRates())
      : packer_(transport_, faults) {
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
  RecordingTransport& transport() { return transport_; }

  // Feeds one datagram as if it came from the host.
  void Receive(const Bytes& datagram) { sim_->HandleDatagram(datagram.data(), datagram.size(), kHostAddress); }

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
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  std::string LastLog() const {
    auto lines = LogLines();
    return lines.empty() ? std::string() : lines.back();
  }

 private:
  RecordingTransport transport_;
  SimPacker packer_;
  SimLog log_;
  std::string logPath_;
  std::unique_ptr<SimInstrument> sim_;
};

// A property request packet, as the extension sends it.
inline Bytes Request(uint8_t processor, uint8_t module, uint16_t index) {
  Bytes p = {3, 0, 0, 0, 0, 0, 0, 0, processor, module, 0, 0};
  vorn::StoreU16(&p[10], index);
  return p;
}

// A property set packet (time field 1, target processor 1).
inline Bytes SetPacket(uint8_t module, uint16_t index, const Bytes& record) {
  const size_t len = (12 + record.size() + 3) / 4 * 4;
  Bytes p(len, 0);
  p[0] = static_cast<uint8_t>(len / 4);
  p[4] = 1;
  p[8] = 1;
  p[9] = module;
  vorn::StoreU16(&p[10], index);
  std::copy(record.begin(), record.end(), p.begin() + 12);
  return p;
}

// Packets of a given (processor, module, stream).
inline std::vector<Bytes> Select(const std::vector<Bytes>& packets, int processor, int module,
                                 int stream) {
  std::vector<Bytes> out;
  for (const Bytes& p : packets) {
    if (p[1] == processor && p[2] == module && p[3] == stream) out.push_back(p);
  }
  return out;
}

}  // namespace test
}  // namespace vornsim
