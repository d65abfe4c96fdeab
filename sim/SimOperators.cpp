#include "SimOperators.h"

#include <algorithm>
#include <cstring>

#include "RecordView.h"
#include "VornProtocol.h"

namespace vornsim {

SimOperators::SimOperators(const SimOptions& options) {
  for (int id : options.operators) {
    Station s;
    s.descriptor = OperatorDescRecord(static_cast<uint32_t>(id), "Osprane " + std::to_string(id));
    s.trial = InitialTrialRecord(id);
    if (auto status = ForOperator(options.operatorStatus, id)) {
      vorn::StoreU32(&s.trial[vorn::TrialRecordView::kStatus], *status);
    }
    s.answersLeft = ForOperator(options.operatorAnswers, id).value_or(-1);
    mOperators.emplace(id, std::move(s));
  }
}

std::vector<int> SimOperators::Ids() const {
  std::vector<int> ids;
  for (const auto& entry : mOperators) ids.push_back(entry.first);
  return ids;
}

std::vector<std::pair<uint16_t, const Bytes*>> SimOperators::Answer(int id, int module,
                                                                    uint16_t property) {
  std::vector<std::pair<uint16_t, const Bytes*>> out;
  auto it = mOperators.find(id);
  if (it == mOperators.end() || (module != 0 && module != vorn::ALL_MODULES)) return out;
  Station& s = it->second;
  if (property == 0 || property == vorn::ALL_PROPERTIES) out.emplace_back(0, &s.descriptor);
  if ((property == vorn::OPERATOR_TRIAL_PROPERTY || property == vorn::ALL_PROPERTIES) &&
      s.answersLeft != 0) {
    if (s.answersLeft > 0) --s.answersLeft;
    out.emplace_back(vorn::OPERATOR_TRIAL_PROPERTY, &s.trial);
  }
  return out;
}

bool SimOperators::Reports(int id) const {
  auto it = mOperators.find(id);
  return it != mOperators.end() && it->second.answersLeft != 0;
}

bool SimOperators::ApplyTrial(int id, const uint8_t* record, size_t length, std::string* error) {
  using V = vorn::TrialRecordView;
  auto it = mOperators.find(id);
  if (it == mOperators.end()) {
    *error = "no such operator";
    return false;
  }
  const V view(record, length);
  if (view.Type() != vorn::VORN_TYPE_RECORDING_TRIAL_DESC) {
    *error = "not a recording trial record";
    return false;
  }
  if (!view.Status()) {
    *error = "trial record too short";
    return false;
  }
  Bytes& trial = it->second.trial;
  vorn::StoreU32(&trial[V::kStopTime], *view.StopTime());
  vorn::StoreU32(&trial[V::kAutoIncr], *view.AutoIncr());
  vorn::StoreU32(&trial[V::kIncrNum], *view.IncrNum());
  vorn::StoreU32(&trial[V::kStatus], *view.Status());
  // The file name base ends at its first zero byte, at most 511 characters.
  const std::string_view base = view.FileBase().value_or("");
  const size_t n = std::min<size_t>(base.size(), V::kFileBaseLen - 1);
  std::fill(trial.begin() + V::kFileBase, trial.begin() + V::kFileBase + V::kFileBaseLen, 0);
  std::memcpy(&trial[V::kFileBase], base.data(), n);
  return true;
}

const Bytes* SimOperators::Trial(int id) const {
  auto it = mOperators.find(id);
  return it == mOperators.end() ? nullptr : &it->second.trial;
}

}  // namespace vornsim
