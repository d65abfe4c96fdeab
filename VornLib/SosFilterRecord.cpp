#include "SosFilterRecord.h"

#include <algorithm>

#include "ByteOrder.h"

namespace vorn {

bool SosFilterRecord::Parse(const SosFilterView& record, SosFilterRecord* out) {
  if (!record.IsType(VORN_TYPE_SOS_FILTER_DESC)) return false;
  if (!record.Has(0, kSosFilterHeaderBytes)) return false;
  const size_t numStages = *record.NumStages();
  if (numStages > record.StagesStored()) return false;

  SosFilterRecord r;
  r.label = std::string(record.Label().value_or(std::string_view()));
  r.center = *record.Center();
  r.lowCutoff = *record.LowCutoff();
  r.highCutoff = *record.HighCutoff();
  r.centerOrder = *record.U8(SosFilterView::kCenterOrder);
  r.centerFlags = *record.U8(SosFilterView::kCenterFlags);
  r.lowOrder = *record.U8(SosFilterView::kLowOrder);
  r.lowFlags = *record.U8(SosFilterView::kLowFlags);
  r.highOrder = *record.U8(SosFilterView::kHighOrder);
  r.highFlags = *record.U8(SosFilterView::kHighFlags);
  r.maxStages = *record.MaxStages();
  r.stages.resize(numStages);
  for (size_t i = 0; i < numStages; ++i) {
    for (size_t c = 0; c < 4; ++c) r.stages[i][c] = *record.Coef(i, c);
  }
  *out = std::move(r);
  return true;
}

std::array<double, 6> SosFilterRecord::SosRow(size_t i) const {
  const Stage& s = stages.at(i);
  return {static_cast<double>(s[0]), static_cast<double>(s[1]), static_cast<double>(s[0]), 1.0,
          static_cast<double>(s[2]), static_cast<double>(s[3])};
}

std::vector<uint8_t> SosFilterRecord::Encode(size_t length) const {
  const size_t needed = kSosFilterHeaderBytes + stages.size() * kSosStageBytes;
  if (stages.size() > 255 || length < needed) return {};
  std::vector<uint8_t> r(length, 0);
  r[0] = VORN_VENDOR;
  r[1] = VORN_TYPE_SOS_FILTER_DESC;
  const size_t n = std::min(label.size(), kLabelChars);
  std::copy_n(label.begin(), n, r.begin() + SosFilterView::kLabel);
  StoreF32(&r[SosFilterView::kCenter], center);
  StoreF32(&r[SosFilterView::kLowCutoff], lowCutoff);
  StoreF32(&r[SosFilterView::kHighCutoff], highCutoff);
  r[SosFilterView::kCenterOrder] = centerOrder;
  r[SosFilterView::kCenterFlags] = centerFlags;
  r[SosFilterView::kLowOrder] = lowOrder;
  r[SosFilterView::kLowFlags] = lowFlags;
  r[SosFilterView::kHighOrder] = highOrder;
  r[SosFilterView::kHighFlags] = highFlags;
  r[SosFilterView::kMaxStages] = maxStages;
  r[SosFilterView::kNumStages] = static_cast<uint8_t>(stages.size());
  for (size_t i = 0; i < stages.size(); ++i) {
    uint8_t* p = &r[SosFilterView::kStages + i * kSosStageBytes];
    for (size_t c = 0; c < 4; ++c) StoreF32(p + 4 * c, stages[i][c]);
  }
  return r;
}

std::vector<uint8_t> SosFilterRecord::EncodeUpload() const {
  if (stages.size() > kUploadStageLimit) return {};
  SosFilterRecord upload = *this;
  upload.centerFlags = upload.lowFlags = upload.highFlags = 0;
  upload.maxStages = kUploadMaxStages;
  return upload.Encode(UploadLength(stages.size()));
}

}  // namespace vorn
