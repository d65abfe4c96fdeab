// SosFilterRecord: one filter selection given as second-order sections
// (VornSosFilterDesc, record type 26), in the form the 'filter' command shows
// it and uploads it.
//
// A stored stage is four f32 (b0, b1, a1, a2) standing for the section with
// numerator b0, b1, b0 and denominator 1, a1, a2. A record built for upload
// has zero flags, maxStages 6, and is 152 + 20 x numStages bytes long: the
// stages take 16 bytes each and the bytes after the last one are zero.
//
// Threads: a plain value type; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "RecordView.h"
#include "VornProtocol.h"

namespace vorn {

struct SosFilterRecord {
  using Stage = std::array<float, 4>;   // b0, b1, a1, a2

  // maxStages written into every uploaded record.
  static constexpr uint8_t kUploadMaxStages = 6;
  // Room reserved per stage in an uploaded record.
  static constexpr size_t kUploadBytesPerStage = 20;
  // The most stages an uploaded record can carry and still fit one packet.
  static constexpr size_t kUploadStageLimit =
      (kMaxRecordBytes - kSosFilterHeaderBytes) / kUploadBytesPerStage;
  // Label characters kept in an uploaded record.
  static constexpr size_t kLabelChars = SosFilterView::kLabelLen - 1;

  std::string label;
  float center = 0.0f;
  float lowCutoff = 0.0f;
  float highCutoff = 0.0f;
  uint8_t centerOrder = 0;
  uint8_t centerFlags = 0;
  uint8_t lowOrder = 0;
  uint8_t lowFlags = 0;
  uint8_t highOrder = 0;
  uint8_t highFlags = 0;
  uint8_t maxStages = 0;
  std::vector<Stage> stages;

  // Reads a stored record. False (out untouched) when it is not a whole
  // VornSosFilterDesc: wrong type, shorter than its 152-byte head, or a
  // numStages that claims more stages than the record holds.
  static bool Parse(const SosFilterView& record, SosFilterRecord* out);

  // Row i of the MATLAB sos matrix: b0, b1, b0, 1, a1, a2.
  std::array<double, 6> SosRow(size_t i) const;

  // Byte length of an uploaded record with n stages.
  static size_t UploadLength(size_t numStages) {
    return kSosFilterHeaderBytes + kUploadBytesPerStage * numStages;
  }

  // The record as the instrument stores it: every field as held, the stages
  // 16 bytes each from byte 152, zero-filled to length bytes. Empty when
  // length is too short for the stages or there are more than 255.
  std::vector<uint8_t> Encode(size_t length) const;

  // The record the 'filter custom' command uploads: vendor 1, type 26, zero
  // flags, the label cut to 127 characters and zero-filled, the three
  // frequencies and orders, zero order flags, maxStages 6, numStages, the
  // stages. Empty when there are more than kUploadStageLimit stages.
  std::vector<uint8_t> EncodeUpload() const;
};

}  // namespace vorn
