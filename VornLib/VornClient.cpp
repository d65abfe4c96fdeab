// VornClient: sockets, receive, send, and the request and set senders. The
// stimulation commands' own senders live in VornClientStim.cpp; the datagram
// framing they share is SendStimWordLists, here.
#include "VornClient.h"

#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "ByteOrder.h"
#include "VornPacketList.h"
#include "VornProtocol.h"

namespace vorn {

namespace {

// Time field of the senders' packets: 0 for requests and the digital output
// set, 1 for every other set.
constexpr uint32_t kTimeRequest = 0;
constexpr uint32_t kTimeSet = 1;

// Request and set packets: common header and property address.
void WriteConfigHeader(uint8_t* p, size_t totalBytes, uint32_t time, uint8_t targetProcessor,
                       uint8_t targetModule, uint16_t propertyIndex) {
  p[hdr::kSize] = static_cast<uint8_t>((totalBytes + 3) / 4);
  p[hdr::kProcessor] = 0;
  p[hdr::kModule] = 0;
  p[hdr::kStream] = 0;
  StoreU32(p + hdr::kTime, time);
  p[hdr::kTargetProcessor] = targetProcessor;
  p[hdr::kTargetModule] = targetModule;
  StoreU16(p + hdr::kPropertyIndex, propertyIndex);
}

// VornBool and VornInt records as this client sends them.
constexpr size_t kBoolPacketBytes = 20;
constexpr size_t kDigitalOutputPacketBytes = 32;
constexpr size_t kRecordTypeOffset = 1;
constexpr size_t kRecordValueOffset = 4;

// Digital output word.
constexpr uint32_t kSingleOutputCount = 4;        // outputs 0 to 3
constexpr uint32_t kWordOutput = 4;               // the 16-bit output
constexpr uint32_t kSingleSelectBit = 28;         // bit 28 + k marks output k
constexpr uint32_t kSingleValueBit = 16;          // bit 16 + k carries its value
constexpr uint32_t kWordSelectMask = 0x0F000000u;
constexpr uint32_t kWordValueMask = 0x0000FFFFu;

// Operator ids a trial packet may be addressed to.
constexpr int kTrialMinOperator = 128;
constexpr int kTrialMaxOperator = 254;

// Stim packet layout, shared by every stimulation sender.
namespace stim {
constexpr size_t kHeaderWords = 7;
constexpr size_t kTargetProcessor = 8;
constexpr size_t kTargetModule = 9;
constexpr size_t kPropertyIndex = 10;
constexpr size_t kLength = 16;        // u16: 2 x word count
constexpr size_t kLengthAgain = 18;   // u16: the same value again
constexpr size_t kWords = 28;
// The size byte holds 7 + n, so a list has at most 248 words.
constexpr size_t kMaxWords = kMaxPacketWords - kHeaderWords;
}  // namespace stim

}  // namespace

// ---------------------------------------------------------------------------
// Sockets

VornClient::VornClient(int recvBufferSize, int sendBufferSize,
                       std::shared_ptr<NetPlatform> platform)
    : mPlatform(std::move(platform)),
      mRecvBufferSize(recvBufferSize),
      mSendBufferSize(sendBufferSize) {
  if (!mPlatform) mPlatform = MakeSystemNetPlatform();
  OpenReceiveSocket();
  OpenSendSocket();
}

VornClient::~VornClient() {
  if (mRecvSocket != kInvalidSocket) mPlatform->Close(mRecvSocket);
  if (mSendSocket != kInvalidSocket) mPlatform->Close(mSendSocket);
  mRecvSocket = kInvalidSocket;
  mSendSocket = kInvalidSocket;
  mStimElectrodes.clear();
}

int VornClient::GetInitStatus() const {
  if (mRecvSocket == kInvalidSocket) return 1;
  if (mSendSocket == kInvalidSocket) return 2;
  if (mInterfaceAddress == 0) return 3;
  if (!mBound) return 4;
  return 0;
}

void VornClient::OpenReceiveSocket() {
  mRecvSocket = mPlatform->OpenUdpSocket();
  if (mRecvSocket == kInvalidSocket) {
    std::fprintf(stderr, "could not create socket\n");
    return;
  }

  // The interface only proves that this host sits on the instrument
  // network; the socket itself listens on every local address.
  std::vector<uint32_t> addresses;
  if (!mPlatform->ListInterfaceAddresses(&addresses)) return;
  for (uint32_t address : addresses) {
    if (IsInstrumentAddress(address)) {
      mInterfaceAddress = address;
      break;
    }
  }
  if (mInterfaceAddress == 0) return;

  mPlatform->SetRecvTimeout(mRecvSocket, kRecvTimeoutMs);

  if (!mPlatform->SetRecvBufferSize(mRecvSocket, mRecvBufferSize)) {
    std::fprintf(stderr, "failed to set socket size\n");
    return;
  }
  int granted = 0;
  const int readResult = mPlatform->GetRecvBufferSize(mRecvSocket, &granted);
  if (readResult != 0) {
    std::fprintf(stderr, "getsockopt returned %d", readResult);
    return;
  }
  if (granted < mRecvBufferSize) {
    std::fprintf(stderr, "Failed to set socket size: %d\n", granted);
    return;
  }

  if (mPlatform->BindAny(mRecvSocket, kConfigPort)) {
    mBound = true;
  } else {
    std::fprintf(stderr, "failed to bind receive socket\n");
  }
}

void VornClient::OpenSendSocket() {
  mSendSocket = mPlatform->OpenUdpSocket();
  if (mSendSocket == kInvalidSocket) {
    std::fprintf(stderr, "failed to setup send socket");
    return;
  }
  if (!mPlatform->SetBroadcast(mSendSocket, true)) {
    std::fprintf(stderr, "failed to setup send socket options");
    // A send socket that may not broadcast cannot reach the instrument with
    // any request: report it as missing rather than as ready.
    mPlatform->Close(mSendSocket);
    mSendSocket = kInvalidSocket;
    return;
  }
  mPlatform->SetSendBufferSize(mSendSocket, mSendBufferSize);
}

// ---------------------------------------------------------------------------
// Receive and send

int VornClient::Receive(VornPacketList& list) {
  using Clock = std::chrono::steady_clock;
  std::array<uint8_t, kMaxDatagram> buffer;
  int result = -1;

  if (mRecvSocket != kInvalidSocket) {
    // Datagrams from outside the instrument network are dropped here and
    // never end the receive; the wait as a whole still ends when nothing
    // from the instrument network arrived within the receive time-out.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRecvTimeoutMs);
    bool timeoutShortened = false;
    for (;;) {
      uint32_t from = 0;
      result = mPlatform->ReceiveFrom(mRecvSocket, buffer.data(), kMaxDatagram, &from);
      if (result > kMaxDatagram) result = kMaxDatagram;   // never more than was read
      if (result < 0 || IsInstrumentAddress(from)) break;

      mForeignDrops.fetch_add(1, std::memory_order_relaxed);
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        result = -1;
        break;
      }
      mPlatform->SetRecvTimeout(mRecvSocket, static_cast<int>(left));
      timeoutShortened = true;
    }
    if (timeoutShortened) mPlatform->SetRecvTimeout(mRecvSocket, kRecvTimeoutMs);
  }

  if (result >= 1) {
    list.Fill(buffer.data(), result);
  } else {
    std::fprintf(stderr, "Failed to recieve data\n");
  }
  return result;
}

int VornClient::Send(const uint8_t* packet) {
  if (packet == nullptr || mSendSocket == kInvalidSocket) return -1;
  const int length = static_cast<int>(packet[hdr::kSize]) * 4;
  return mPlatform->SendTo(mSendSocket, packet, length, kBroadcastAddress, kInstrumentPort);
}

int VornClient::SendToKel(const uint8_t* data, int length) {
  if (mSendSocket == kInvalidSocket) return -1;
  return mPlatform->SendTo(mSendSocket, data, length, kKelAddress, kInstrumentPort);
}

long long VornClient::KernelReceiveDrops() const {
  if (mRecvSocket == kInvalidSocket) return -1;
  return mPlatform->ReceiveDrops(mRecvSocket);
}

// ---------------------------------------------------------------------------
// Request and set senders

void VornClient::RequestProperty(uint8_t processor, uint8_t module, uint16_t propertyIndex) {
  std::array<uint8_t, hdr::kConfigHeaderBytes> packet{};
  WriteConfigHeader(packet.data(), packet.size(), kTimeRequest, processor, module, propertyIndex);
  Send(packet.data());
}

bool VornClient::SetBoolProperty(uint8_t module, uint16_t propertyIndex, uint8_t value) {
  std::array<uint8_t, kBoolPacketBytes> packet{};
  WriteConfigHeader(packet.data(), packet.size(), kTimeSet, KEL_PROCESSOR, module, propertyIndex);
  uint8_t* record = packet.data() + hdr::kRecord;
  record[0] = VORN_VENDOR;
  record[kRecordTypeOffset] = VORN_TYPE_BOOL;
  record[kRecordValueOffset] = value;
  return Send(packet.data()) > 0;
}

bool VornClient::SetFixedSizeProperty(const uint8_t* record140, uint8_t module,
                                      uint16_t propertyIndex) {
  if (record140 == nullptr) return false;
  std::array<uint8_t, hdr::kConfigHeaderBytes + kComboBoxBytes> packet{};
  WriteConfigHeader(packet.data(), packet.size(), kTimeSet, KEL_PROCESSOR, module, propertyIndex);
  std::memcpy(packet.data() + hdr::kRecord, record140, kComboBoxBytes);
  return Send(packet.data()) > 0;
}

bool VornClient::SetProperty(const uint8_t* record, uint8_t module, uint16_t propertyIndex,
                             uint32_t length) {
  // A longer record does not fit in one packet: its size byte would wrap.
  if (length > kMaxRecordBytes) return false;
  if (record == nullptr && length > 0) return false;
  std::array<uint8_t, kMaxPacketBytes> packet{};
  const size_t total = hdr::kConfigHeaderBytes + length;
  WriteConfigHeader(packet.data(), total, kTimeSet, KEL_PROCESSOR, module, propertyIndex);
  if (length > 0) std::memcpy(packet.data() + hdr::kRecord, record, length);
  return Send(packet.data()) > 0;
}

bool VornClient::SetDigitalOutputs(const uint32_t* outputIndexes, const uint32_t* values,
                                   uint32_t count) {
  if (count > 0 && (outputIndexes == nullptr || values == nullptr)) return false;
  uint32_t word = 0;
  uint32_t seen = 0;   // bit k: output k already set by this call
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t k = outputIndexes[i];
    const uint32_t v = values[i];
    if (k > kWordOutput) return false;
    // The same output twice would leave its value to the bit arithmetic
    // (an OR of both values): refuse rather than guess.
    if (seen & (1u << k)) return false;
    seen |= 1u << k;
    if (k < kSingleOutputCount) {
      word |= 1u << (kSingleSelectBit + k);
      if (v != 0) word |= 1u << (kSingleValueBit + k);
    } else {
      word |= kWordSelectMask | (v & kWordValueMask);
    }
  }

  std::array<uint8_t, kDigitalOutputPacketBytes> packet{};
  WriteConfigHeader(packet.data(), packet.size(), kTimeRequest, KEL_PROCESSOR, DIGITAL_IO_MODULE,
                    DIGITAL_OUTPUT_PROPERTY);
  uint8_t* record = packet.data() + hdr::kRecord;
  record[0] = VORN_VENDOR;
  record[kRecordTypeOffset] = VORN_TYPE_INT;
  StoreU32(record + kRecordValueOffset, word);
  return Send(packet.data()) > 0;
}

bool VornClient::SendOperatorTrial(const uint8_t* record552, int operatorId) {
  if (operatorId < kTrialMinOperator || operatorId > kTrialMaxOperator) return false;
  std::array<uint8_t, hdr::kConfigHeaderBytes + kTrialRecordBytes> packet{};
  const size_t total = record552 ? packet.size() : hdr::kConfigHeaderBytes;
  WriteConfigHeader(packet.data(), total, kTimeSet, static_cast<uint8_t>(operatorId),
                    PROCESSOR_MODULE, OPERATOR_TRIAL_PROPERTY);
  if (record552) std::memcpy(packet.data() + hdr::kRecord, record552, kTrialRecordBytes);
  return Send(packet.data()) > 0;
}

// ---------------------------------------------------------------------------
// Stimulation

const std::pair<int, int>* VornClient::FindStimElectrode(int electrodeKey) const {
  auto it = mStimElectrodes.find(electrodeKey);
  return it == mStimElectrodes.end() ? nullptr : &it->second;
}

void VornClient::SetStimElectrodes(std::map<int, std::pair<int, int>> electrodes) {
  mStimElectrodes = std::move(electrodes);
}

int VornClient::SendStimWordLists(const std::vector<StimWordList>& lists) {
  // Check every list before anything is sent: a call that fails must not
  // have stimulated some of its electrodes already.
  for (const StimWordList& list : lists) {
    if (list.words.size() > stim::kMaxWords) return 3;
    if (list.electrode > static_cast<uint32_t>(INT_MAX) ||
        FindStimElectrode(static_cast<int>(list.electrode)) == nullptr) {
      return 1;
    }
  }

  // Local buffer: the switch-off event's thread sends through here too.
  std::array<uint8_t, kStimBufferSize> buffer{};
  size_t used = 0;
  for (const StimWordList& list : lists) {
    const size_t n = list.words.size();
    const size_t packetBytes = (stim::kHeaderWords + n) * 4;
    if (used + packetBytes >= kStimBufferSize) {
      if (SendToKel(buffer.data(), static_cast<int>(used)) <= 0) return 3;
      buffer.fill(0);
      used = 0;
    }
    const std::pair<int, int>* target = FindStimElectrode(static_cast<int>(list.electrode));
    uint8_t* p = buffer.data() + used;
    p[hdr::kSize] = static_cast<uint8_t>(stim::kHeaderWords + n);
    p[stim::kTargetProcessor] = KEL_PROCESSOR;
    p[stim::kTargetModule] = static_cast<uint8_t>(target->first);
    StoreU16(p + stim::kPropertyIndex, static_cast<uint16_t>(target->second));
    StoreU16(p + stim::kLength, static_cast<uint16_t>(2 * n));
    StoreU16(p + stim::kLengthAgain, static_cast<uint16_t>(2 * n));
    for (size_t w = 0; w < n; ++w) StoreU32(p + stim::kWords + 4 * w, list.words[w]);
    used += packetBytes;
  }

  const int sent = SendToKel(buffer.data(), static_cast<int>(used));
  // The empty datagram of an empty call is no failure; a stim datagram
  // that did not go out is.
  if (used > 0 && sent <= 0) return 3;
  return 0;
}

}  // namespace vorn
