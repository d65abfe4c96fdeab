// TrialRecordEdit: the changes the 'trial' command makes to an operator's
// 552-byte recording trial record (VornRecordingTrialDescriptor), and the
// reading of the fields it reports back. Every byte that is not edited goes
// back to the operator exactly as received.
//
// Threads: a plain value type; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RecordView.h"

namespace vorn {

// Recording status codes of the trial record.
constexpr uint32_t kTrialStopped = 1;
constexpr uint32_t kTrialRecording = 2;
constexpr uint32_t kTrialPaused = 3;

// "stopped", "recording", "paused"; null for any other code.
const char* TrialStatusText(uint32_t code);
// The code of an exact (case-sensitive) status text; 0 for any other text.
uint32_t TrialStatusCode(std::string_view text);

struct TrialRecordEdit {
  // Characters a file name base may have (the field holds the terminating
  // zero too).
  static constexpr size_t kMaxFileBaseChars = TrialRecordView::kFileBaseLen - 1;

  std::optional<uint32_t> status;
  std::optional<std::string> fileBase;
  std::optional<uint32_t> stopTime;
  std::optional<uint32_t> autoIncr;
  std::optional<uint32_t> incrNum;

  // Writes the given fields into record. The file name base (up to its
  // first zero character, if any) is copied with its terminating zero; the
  // field's bytes after that zero stay as they were. False, with the record
  // unchanged, when the record is not 552 bytes or the file name base has
  // more than kMaxFileBaseChars characters.
  bool ApplyTo(std::vector<uint8_t>* record) const;
};

// What the 'trial' command reports of a record.
struct TrialState {
  std::string status;     // the status text
  std::string fileBase;
  uint32_t autoIncr = 0;
  uint32_t stopTime = 0;
  uint32_t incrNum = 0;
};

// False when the record is shorter than 552 bytes or its status code is not
// 1, 2 or 3.
bool ReadTrialState(const TrialRecordView& record, TrialState* out);

}  // namespace vorn
