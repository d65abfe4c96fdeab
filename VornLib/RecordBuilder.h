// Builders for property records and packets, as the instrument sends them.
// Used by the simulator, the tests, the fuzzer and the benchmarks; the
// extension itself builds only its own request packets (VornClient).
// Every builder returns the bytes little-endian, zero-filled where no field
// is given, and a record's length is always a whole number of words.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "VornProtocol.h"

namespace vorn {
namespace build {

using Bytes = std::vector<uint8_t>;

// ---- Packets ----
// A configuration packet from (processor, module) carrying one record for
// (targetProcessor, targetModule, propertyIndex); size byte and padding set.
Bytes ConfigPacket(uint8_t processor, uint8_t module, uint32_t time, uint8_t targetProcessor,
                   uint8_t targetModule, uint16_t propertyIndex, const Bytes& record);
// A continuous frame of 16-bit samples (payload type 1, flags at byte 10).
Bytes ContPacket(uint8_t module, uint8_t stream, uint32_t time, const std::vector<int16_t>& frame,
                 uint16_t flags = 0);
// A continuous frame of float samples (payload type 1).
Bytes FloatContPacket(uint8_t module, uint8_t stream, uint32_t time, const std::vector<float>& frame,
                      uint16_t flags = 0);
// A 120-byte segment packet with 52 samples.
Bytes SegmentPacket(uint8_t module, uint8_t stream, uint32_t time,
                    const std::array<int16_t, kSegmentSampleCount>& samples);
// A 28-byte legacy digital event packet.
Bytes EventPacket(uint8_t module, uint8_t stream, uint32_t time, uint8_t reason, uint16_t parallel,
                  const std::array<uint16_t, 4>& sma);
// Appends packet to datagram.
void Append(Bytes& datagram, const Bytes& packet);

// ---- Records ----
Bytes ModuleDesc(uint16_t frontEndType, uint16_t descRange, uint16_t propertyCount,
                 const std::string& name);
Bytes ProcessorDesc(uint16_t highestModule);
Bytes PropertyBlockDesc(uint8_t itemType, uint16_t itemCount, uint16_t firstItem,
                        const std::string& name);
Bytes ScopeDesc(uint8_t itemType, uint16_t itemCount, uint16_t firstItem, const std::string& name);
Bytes Bool(uint8_t value);
Bytes Int(uint32_t value);
Bytes ComboBox(uint16_t selection, uint16_t firstItem, uint16_t itemCount);
Bytes ComboItem(uint16_t target, const std::string& name = "");
Bytes PhysicalChannel(uint8_t flags, uint8_t port, uint8_t frontEnd, uint16_t channel,
                      const std::string& name);
Bytes SignalDesc(uint16_t enableIndex, const std::string& name = "");
Bytes OutputStream(uint8_t flags, uint8_t streamType, uint8_t period, uint16_t signalDesc,
                   uint16_t channelCount, float scale, const std::string& label,
                   const std::string& name);
struct SosStage {
  float b0, b1, a1, a2;
};
Bytes SosFilter(const std::string& label, float center, float lowCutoff, float highCutoff,
                uint8_t centerOrder, uint8_t lowOrder, uint8_t highOrder, uint8_t maxStages,
                const std::vector<SosStage>& stages);
Bytes TrialRecord(uint32_t status, const std::string& fileBase, uint32_t stopTime,
                  uint32_t autoIncr, uint32_t incrNum);

}  // namespace build
}  // namespace vorn
