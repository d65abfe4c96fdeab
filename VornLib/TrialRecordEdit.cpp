#include "TrialRecordEdit.h"

#include <algorithm>

#include "ByteOrder.h"
#include "VornProtocol.h"

namespace vorn {

const char* TrialStatusText(uint32_t code) {
  switch (code) {
    case kTrialStopped: return "stopped";
    case kTrialRecording: return "recording";
    case kTrialPaused: return "paused";
    default: return nullptr;
  }
}

uint32_t TrialStatusCode(std::string_view text) {
  if (text == "recording") return kTrialRecording;
  if (text == "stopped") return kTrialStopped;
  if (text == "paused") return kTrialPaused;
  return 0;
}

bool TrialRecordEdit::ApplyTo(std::vector<uint8_t>* record) const {
  if (record == nullptr || record->size() != kTrialRecordBytes) return false;
  // Like a C string copy: the text ends at its first zero character.
  const std::string_view base =
      fileBase ? std::string_view(fileBase->c_str()) : std::string_view();
  if (base.size() > kMaxFileBaseChars) return false;
  uint8_t* r = record->data();
  if (status) StoreU32(r + TrialRecordView::kStatus, *status);
  if (fileBase) {
    std::copy(base.begin(), base.end(), r + TrialRecordView::kFileBase);
    r[TrialRecordView::kFileBase + base.size()] = 0;
  }
  if (stopTime) StoreU32(r + TrialRecordView::kStopTime, *stopTime);
  if (autoIncr) StoreU32(r + TrialRecordView::kAutoIncr, *autoIncr);
  if (incrNum) StoreU32(r + TrialRecordView::kIncrNum, *incrNum);
  return true;
}

bool ReadTrialState(const TrialRecordView& record, TrialState* out) {
  if (!record.Has(0, kTrialRecordBytes)) return false;
  const char* text = TrialStatusText(*record.Status());
  if (text == nullptr) return false;
  out->status = text;
  out->fileBase = std::string(*record.FileBase());
  out->autoIncr = *record.AutoIncr();
  out->stopTime = *record.StopTime();
  out->incrNum = *record.IncrNum();
  return true;
}

}  // namespace vorn
