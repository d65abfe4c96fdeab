// FakeInstrument: a FakeNetPlatform that answers the extension's requests
// the way the KEL and its operator workstations do, so that a VornConnection
// can run its whole start-up without a network. It also keeps one ordered
// log of the requests sent and of the start-up's pauses.
//
// The KEL here: module 0 (processor, 6 properties, the processor descriptor
// at property 5), modules 1 .. frontEnds each a front end with one channel
// and one continuous stream "raw" (period 1, scale 1, 4 properties), and
// filler modules up to the highest id (a descriptor and one Int, so that each
// needs its property request).
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "FakeNetPlatform.h"
#include "RecordBuilder.h"
#include "VornProtocol.h"

namespace vorn {
namespace test {

class FakeInstrument : public FakeNetPlatform {
 public:
  struct Module {
    std::vector<build::Bytes> records;   // records[n] is property n; [0] the descriptor
  };

  // Modules 0 .. highestModule, front ends on 1 .. frontEnds.
  explicit FakeInstrument(int highestModule = 9, int frontEnds = 1) {
    blockingReceive = true;
    Module kel;
    kel.records = {build::ModuleDesc(VORN_FE_PROCESSOR, 1, 6, "KEL"), build::Int(1), build::Int(2),
                   build::Int(3), build::Int(4),
                   build::ProcessorDesc(static_cast<uint16_t>(highestModule))};
    modules[0] = kel;
    for (int id = 1; id <= highestModule; ++id) {
      Module m;
      if (id <= frontEnds) {
        m.records = {
            build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, 2, 4, "front end " + std::to_string(id)),
            build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 1, 3, "Output Stream Block"),
            build::Int(0),
            build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 0, 1, 1.0f, "raw", "raw")};
      } else {
        m.records = {build::ModuleDesc(VORN_FE_UNDEFINED, 1, 2, "filler " + std::to_string(id)),
                     build::Int(static_cast<uint32_t>(id))};
      }
      modules[id] = m;
    }
  }

  // ---- Behaviour switches (set before the connection opens) ----
  std::map<int, Module> modules;
  std::vector<int> operators{129, 131};
  bool kelAnswers = true;
  // Modules that answer a request for all their properties with their
  // descriptor only, for the first `count` such requests (-1: always).
  std::map<int, int> silentModules;
  uint32_t time = 5000;

  // ---- The ordered log of what the start-up did ----
  // "req p/m/n" for a 12-byte property request, "trial p" for a trial
  // request, "pause ms" for a pause between property requests.
  std::vector<std::string> Log() const {
    std::lock_guard<std::mutex> lock(mLogMutex);
    return mLog;
  }
  void NotePause(int ms) {
    std::lock_guard<std::mutex> lock(mLogMutex);
    mLog.push_back("pause " + std::to_string(ms));
  }

  // ---- Data a running KEL sends ----
  static build::Bytes TimePacket(uint32_t t) {
    build::Bytes p(8, 0);
    p[hdr::kSize] = 2;
    p[hdr::kProcessor] = KEL_PROCESSOR;
    p[hdr::kModule] = PROCESSOR_MODULE;
    p[hdr::kStream] = 1;
    StoreU32(&p[hdr::kTime], t);
    return p;
  }
  // One frame of front end 1's "raw" stream.
  static build::Bytes RawFrame(uint32_t t, int16_t value) {
    return build::ContPacket(1, 1, t, {value});
  }

  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
             uint16_t port) override {
    const int result = FakeNetPlatform::SendTo(s, data, length, addr, port);
    if (length == static_cast<int>(hdr::kConfigHeaderBytes)) {
      const int p = data[hdr::kTargetProcessor];
      const int m = data[hdr::kTargetModule];
      const int n = LoadU16(data + hdr::kPropertyIndex);
      const bool trial = LoadU32(data + hdr::kTime) == 1;
      {
        std::lock_guard<std::mutex> lock(mLogMutex);
        mLog.push_back(trial ? "trial " + std::to_string(p)
                             : "req " + std::to_string(p) + "/" + std::to_string(m) + "/" +
                                   std::to_string(n));
      }
      if (!trial) Answer(p, m, n);
    }
    return result;
  }

 private:
  void Answer(int p, int m, int n) {
    std::vector<build::Bytes> packets;
    if (p == ALL_PROCESSORS && m == 0 && n == 0) {
      if (kelAnswers) packets.push_back(Reply(0, 0));
      for (int op : operators) {
        packets.push_back(build::ConfigPacket(static_cast<uint8_t>(op), 0, 0,
                                              static_cast<uint8_t>(op), 0, 0, build::Int(0)));
      }
    } else if (p == KEL_PROCESSOR && kelAnswers) {
      if (m == ALL_MODULES && n == 0) {
        for (const auto& entry : modules) packets.push_back(Reply(entry.first, 0));
        packets.push_back(Reply(0, 5));
      } else if (modules.count(m) && n == ALL_PROPERTIES) {
        int& silent = silentModules.count(m) ? silentModules[m] : mNoSilence;
        const bool descriptorOnly = silent != 0;
        if (silent > 0) --silent;
        const size_t count = descriptorOnly ? 1 : modules[m].records.size();
        for (size_t i = 0; i < count; ++i) packets.push_back(Reply(m, static_cast<int>(i)));
      } else if (modules.count(m) && n < static_cast<int>(modules[m].records.size())) {
        packets.push_back(Reply(m, n));
      }
    }
    // Packed as the instrument packs them: many packets to a datagram.
    build::Bytes datagram;
    for (const build::Bytes& packet : packets) {
      if (datagram.size() + packet.size() > 1499) {
        Push(datagram);
        datagram.clear();
      }
      build::Append(datagram, packet);
    }
    if (!datagram.empty()) Push(datagram);
  }

  build::Bytes Reply(int m, int n) {
    return build::ConfigPacket(KEL_PROCESSOR, static_cast<uint8_t>(m), time, KEL_PROCESSOR,
                               static_cast<uint8_t>(m), static_cast<uint16_t>(n),
                               modules[m].records[static_cast<size_t>(n)]);
  }

  mutable std::mutex mLogMutex;
  std::vector<std::string> mLog;
  int mNoSilence = 0;
};

}  // namespace test
}  // namespace vorn
