// The instrument network's vocabulary: packet header fields, processor and
// module ids, record type codes, stream types and front-end types.
// Everything that reads or builds packets takes its numbers from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

// ---- Network --------------------------------------------------------------

// Instrument subnet 192.168.42.0/24, in host byte order.
constexpr uint32_t kInstrumentNetwork = 0xC0A82A00u;   // 192.168.42.0
constexpr uint32_t kInstrumentNetmask = 0xFFFFFF00u;   // first three bytes
constexpr uint32_t kBroadcastAddress = 0xC0A82AFFu;    // 192.168.42.255
constexpr uint32_t kKelAddress = 0xC0A82A01u;          // 192.168.42.1
constexpr uint16_t kConfigPort = 2046;                 // we receive here
constexpr uint16_t kInstrumentPort = 2047;             // we send here

constexpr int kRecvTimeoutMs = 1000;
constexpr int kRecvBufferSize = 425984;   // 0x68000
constexpr int kSendBufferSize = 131072;   // 0x20000
constexpr int kMaxDatagram = 1500;        // largest datagram read
constexpr int kStimBufferSize = 1500;     // stim datagram staging buffer

inline bool IsInstrumentAddress(uint32_t hostOrderAddr) {
  return (hostOrderAddr & kInstrumentNetmask) == kInstrumentNetwork;
}

// ---- Packet header --------------------------------------------------------

// Every packet: u8 size (32-bit words, header included), u8 processor,
// u8 module, u8 stream, u32 time. Configuration packets add the property
// address and one property record.
namespace hdr {
constexpr size_t kSize = 0;
constexpr size_t kProcessor = 1;
constexpr size_t kModule = 2;
constexpr size_t kStream = 3;
constexpr size_t kTime = 4;
constexpr size_t kHeaderBytes = 8;
// Configuration packets (stream 0).
constexpr size_t kTargetProcessor = 8;
constexpr size_t kTargetModule = 9;
constexpr size_t kPropertyIndex = 10;
constexpr size_t kRecord = 12;           // first byte of the property record
constexpr size_t kConfigHeaderBytes = 12;
// Data packets (stream != 0).
constexpr size_t kPayloadType = 8;
}  // namespace hdr

constexpr size_t kMaxPacketWords = 255;
constexpr size_t kMaxPacketBytes = kMaxPacketWords * 4;   // 1020
constexpr size_t kMaxRecordBytes = kMaxPacketBytes - hdr::kConfigHeaderBytes;  // 1008

// ---- Processors and modules -----------------------------------------------

constexpr uint8_t KEL_PROCESSOR = 1;
constexpr uint8_t ALL_PROCESSORS = 255;
constexpr int OPERATOR_MIN_ID = 129;      // operators are processors above 128
constexpr int OPERATOR_MAX_ID = 254;
constexpr uint8_t PROCESSOR_MODULE = 0;   // the processor itself; carries the time
constexpr uint8_t DIGITAL_IO_MODULE = 34;
constexpr uint8_t ALL_MODULES = 255;
constexpr uint16_t ALL_PROPERTIES = 65535;
constexpr uint16_t DIGITAL_OUTPUT_PROPERTY = 53;
constexpr uint16_t OPERATOR_TRIAL_PROPERTY = 1;

inline bool IsOperatorId(int id) { return id > 128 && id <= OPERATOR_MAX_ID; }

// ---- Property record types ------------------------------------------------

enum VornType : uint8_t {
  VORN_TYPE_INVALID = 0,
  VORN_TYPE_PROPERTY_BLOCK_DESC = 1,
  VORN_TYPE_MODULE_SCOPE_PROPERTY_DESC = 2,
  VORN_TYPE_BOOL = 3,
  VORN_TYPE_INT = 4,
  VORN_TYPE_FLOAT = 5,
  VORN_TYPE_STRING = 6,
  VORN_TYPE_COMBO = 7,
  VORN_TYPE_CLOCK_DOMAIN_DESC = 8,
  VORN_TYPE_MODULE_DESC = 9,
  VORN_TYPE_MODULE_META_DESC = 10,
  VORN_TYPE_LOAD_MODULE_REQUEST = 11,
  VORN_TYPE_PROCESSOR_DESC = 12,
  VORN_TYPE_NETWORK_DESC = 13,
  VORN_TYPE_PHYSICAL_CHANNEL_DESC = 14,
  VORN_TYPE_INPUT_CONNECTION_DESC = 15,
  VORN_TYPE_DERIVED_SIGNAL_SET_DESC = 16,
  VORN_TYPE_SIGNAL_DESC = 17,
  VORN_TYPE_OUTPUT_STREAM_DESC = 18,
  VORN_TYPE_PROPERTY_BLOCK = 19,
  VORN_TYPE_OPERATOR_DESC = 20,
  VORN_TYPE_RECORDING_TRIAL_DESC = 21,
  VORN_TYPE_SIGNAL_SELECTION_DESC = 22,
  VORN_TYPE_COMBO_ITEM = 23,
  VORN_TYPE_WORD_ARRAY = 24,
  VORN_TYPE_COUNTDOWN_TIMER = 25,
  VORN_TYPE_SOS_FILTER_DESC = 26,
  VORN_TYPE_HOOP_SORT_SET_DESC = 27,
  VORN_TYPE_TEMPLATE_SORT_ENTRY_DESC = 28,
  VORN_TYPE_FLOAT_ARRAY = 29,
  VORN_TYPE_INT_ARRAY = 30,
};
constexpr int VORN_TYPE_COUNT = 31;

inline const char* VornTypeName(int type) {
  static const char* const kNames[VORN_TYPE_COUNT] = {
      "INVALID TYPE",
      "VornPropertyBlockDesc",
      "VornModuleScopePropertyDesc",
      "VornBool",
      "VornInt",
      "VornFloat",
      "VornString",
      "VornComboBox",
      "VornClockDomainDesc",
      "VornModuleDesc",
      "VornModuleMetaDesc",
      "VornLoadModuleRequest",
      "VornProcessorDesc",
      "VornNetworkDesc",
      "VornPhysicalChannelDesc",
      "VornInputConnectionDesc",
      "VornDerivedSignalSetDesc",
      "VornSignalDesc",
      "VornOutputStreamDesc",
      "VornPropertyBlock",
      "VornOperatorDescriptor",
      "VornRecordingTrialDescriptor",
      "VornSignalSelectionDescriptor",
      "VornComboBoxItem",
      "VornWordArray",
      "VornCountdownTimer",
      "VornSosFilterDesc",
      "VornHoopSortSetDesc",
      "VornTemplateSortEntryDesc",
      "VornFloatArray",
      "VornIntArray",
  };
  return (type >= 0 && type < VORN_TYPE_COUNT) ? kNames[type] : kNames[0];
}

constexpr uint8_t VORN_VENDOR = 1;

// ---- Stream types -----------------------------------------------------------

enum VornStreamType : uint8_t {
  VORN_STREAM_TYPE_INVALID = 0,
  VORN_STREAM_TYPE_CONTINUOUS = 1,
  VORN_STREAM_TYPE_SEGMENT = 2,
  VORN_STREAM_TYPE_DIGITAL = 3,
  VORN_STREAM_TYPE_DIGEST = 4,
  VORN_STREAM_TYPE_MULTIPART = 5,
  VORN_STREAM_TYPE_NEV_LEGACY_DIGEVENT = 6,
  VORN_STREAM_TYPE_PROPRIETARY = 7,
  VORN_STREAM_TYPE_FLOAT = 8,
};
constexpr int VORN_STREAM_TYPE_COUNT = 9;

inline const char* VornStreamTypeName(int type) {
  static const char* const kNames[VORN_STREAM_TYPE_COUNT] = {
      "Invalid", "Continuous", "Spike",       "Digital", "Digest",
      "Multi-Part", "Nev Legacy", "Proprietary", "Float",
  };
  return (type >= 0 && type < VORN_STREAM_TYPE_COUNT) ? kNames[type] : kNames[0];
}

// Output stream flags that hide a stream from reading and selection.
constexpr uint8_t kStreamHiddenFlags = 0x0C;
// Physical channel flag: not listed as an electrode.
constexpr uint8_t kChannelNotElectrodeFlag = 0x04;

// Continuous packet flag (u16 at byte 10): bit 0 set means "do not buffer".
constexpr uint16_t kContSkipFlag = 0x0001;

constexpr size_t kSegmentPacketBytes = 120;   // 30 words
constexpr uint16_t kSegmentSampleCount = 52;
constexpr size_t kSegmentSampleCountOffset = 14;
constexpr size_t kSegmentSamplesOffset = 16;
constexpr size_t kEventPacketBytes = 28;      // 7 words
constexpr size_t kContFrameOffset = 12;

constexpr uint32_t kContRingTicks = 150000;   // 5 s of the 30 kHz clock
constexpr uint32_t kSegmentBufferRecords = 1024;
constexpr uint32_t kEventBufferRecords = 1024;

// ---- Front-end types (module descriptor, offset 10) --------------------------

enum VornFrontEndType : uint16_t {
  VORN_FE_PROCESSOR = 0,
  VORN_FE_MICRO_ELECTRODES = 1,
  VORN_FE_MICRO_ELECTRODES_2 = 2,
  VORN_FE_STIM = 3,
  VORN_FE_ANALOG_INPUTS = 4,
  VORN_FE_DIGITAL_INPUTS = 5,
  VORN_FE_SURFACE_ELECTRODES = 6,
  VORN_FE_SURFACE_ELECTRODES_2 = 7,
  VORN_FE_UNDEFINED = 8,
};
constexpr int VORN_FE_TYPE_COUNT = 9;

inline const char* VornFrontEndName(int type) {
  static const char* const kNames[VORN_FE_TYPE_COUNT] = {
      "Processor",     "Micro Electrodes",   "Micro Electrodes",
      "Stim",          "Analog Inputs",      "Digital Inputs",
      "Surface Electrodes", "Surface Electrodes", "Undefined",
  };
  return (type >= 0 && type < VORN_FE_TYPE_COUNT) ? kNames[type] : kNames[8];
}

// Zero-based electrode keys.
constexpr int kAnalogInputKeyBase = 10240;
constexpr int kChannelsPerFrontEnd = 32;
inline int ElectrodeKey(int port, int frontEnd, int channel) {
  return (port * 4 + frontEnd) * kChannelsPerFrontEnd + channel;
}

// ---- Fixed record sizes ------------------------------------------------------

constexpr size_t kModuleDescBytes = 344;
constexpr size_t kComboBoxBytes = 140;
constexpr size_t kTrialRecordBytes = 552;
constexpr size_t kSosFilterHeaderBytes = 152;
constexpr size_t kSosStageBytes = 16;

}  // namespace vorn
