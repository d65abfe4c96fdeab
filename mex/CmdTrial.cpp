// 'opers' lists the Osprane operator workstations the cache has seen;
// 'trial' fetches an operator's recording trial record, changes the fields
// the user gives, sends it back, fetches it again and returns what the
// operator then reports. Runs on MATLAB's thread; the cache lock is held for
// each registry call only and never across a send, a sleep or an error, so
// that the listening thread can store the operator's answers meanwhile.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TrialRecordEdit.h"
#include "TruncateDouble.h"
#include "VornCache.h"
#include "VornClient.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {

namespace {

constexpr int kMaxOperators = 128;
constexpr size_t kTextBuffer = 10240;

// Polling for the operator's answer: attempts and the sleep after a miss.
constexpr int kFirstWaitAttempts = 10;
constexpr std::chrono::milliseconds kFirstWaitSleep{100};
constexpr int kSecondWaitAttempts = 4;
constexpr std::chrono::milliseconds kSecondWaitSleep{250};

bool IsRealDouble(const mxArray* a) { return mxIsDouble(a) && !mxIsComplex(a); }

// The ids of the known operators, ascending.
std::vector<int> ListOperatorIds() {
  std::vector<int> ids(kMaxOperators);
  int count;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    count = gCache->ListOperators(ids.data(), kMaxOperators);
  }
  ids.resize(static_cast<size_t>(std::max(0, std::min(count, kMaxOperators))));
  return ids;
}

// Forgets the operator's stored record and asks it for a fresh one, so that
// the record read afterwards is its answer to this request.
void RequestTrial(int id) {
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    gCache->ClearOperatorTrial(id);
  }
  gClient->SendOperatorTrial(nullptr, id);
}

// Polls for the operator's record; returns as soon as it is there. Empty when
// the operator did not answer within the attempts.
std::vector<uint8_t> WaitForTrial(int id, int attempts, std::chrono::milliseconds sleep) {
  for (int i = 0; i < attempts; ++i) {
    std::vector<uint8_t> record;
    {
      std::lock_guard<std::mutex> lock(*gCacheMutex);
      record = gCache->CopyOperatorTrial(id);
    }
    if (record.size() == vorn::kTrialRecordBytes) return record;
    std::this_thread::sleep_for(sleep);
  }
  return {};
}

// An optional argument that is given and not empty.
const mxArray* Optional(int nrhs, const mxArray* prhs[], int index) {
  if (nrhs <= index || mxIsEmpty(prhs[index])) return nullptr;
  return prhs[index];
}

// auto_stop_time and incr_num: truncated toward zero as 32 bits.
uint32_t ReadTrialNumber(const mxArray* arg, const char* name) {
  std::optional<uint32_t> v;
  if (IsRealDouble(arg)) v = vorn::TruncToU32Bits(mxGetScalar(arg));
  if (!v) Fail("invalid %s: a number from -2147483648 to 4294967295 is needed", name);
  return *v;
}

}  // namespace

// ids = vornmex('opers')
void CmdOpers(int, mxArray* plhs[], int, const mxArray*[]) {
  const std::vector<int> ids = ListOperatorIds();
  plhs[0] = mxCreateNumericMatrix(1, ids.size(), mxDOUBLE_CLASS, mxREAL);
  double* out = mxGetPr(plhs[0]);
  for (size_t i = 0; i < ids.size(); ++i) out[i] = ids[i];
}

// t = vornmex('trial', operator_id [, status [, file_name_base
//                      [, auto_stop_time [, auto_incr [, incr_num]]]]])
void CmdTrial(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2) {
    Fail("usage: vornmex('trial', operator_id, 'recording'|'stopped'|'paused', file_name_base, "
         "auto_stop_time, auto_incr, incr_num)");
  }
  // Not a number: no operator has that id (NaN must not mean "the first").
  int id = -1;
  if (IsRealDouble(prhs[1]) && !mxIsEmpty(prhs[1])) {
    id = vorn::SaturatingTrunc(mxGetScalar(prhs[1]), -1);
  }
  if (id == 0) {
    const std::vector<int> ids = ListOperatorIds();
    if (ids.empty()) Fail("No Osprane operators found\n");
    id = ids.front();
  }
  bool known;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    known = gCache->HasOperator(id);
  }
  if (!known) Fail("could not find operator");

  // A file name base must fit the record's 512-byte field with its zero;
  // refuse a longer one before anything is sent.
  const mxArray* fileArg = Optional(nrhs, prhs, 3);
  if (fileArg != nullptr && mxIsChar(fileArg) &&
      mxGetNumberOfElements(fileArg) > vorn::TrialRecordEdit::kMaxFileBaseChars) {
    Fail("file name base too long: at most %zu characters",
         vorn::TrialRecordEdit::kMaxFileBaseChars);
  }

  RequestTrial(id);
  std::vector<uint8_t> record = WaitForTrial(id, kFirstWaitAttempts, kFirstWaitSleep);
  if (record.empty()) Fail("operator %d did not answer the trial request", id);

  vorn::TrialRecordEdit edit;
  if (const mxArray* arg = Optional(nrhs, prhs, 2)) {
    std::string status;
    if (!ReadString(arg, kTextBuffer, &status)) Fail("invalid status string");
    edit.status = vorn::TrialStatusCode(status);
    if (*edit.status == 0) Fail("status must be \"recording\", \"stopped\", or \"paused\"");
  }
  if (fileArg != nullptr) {
    std::string base;
    if (!ReadString(fileArg, kTextBuffer, &base)) Fail("invalid file path base");
    edit.fileBase = base;
  }
  if (const mxArray* arg = Optional(nrhs, prhs, 4)) {
    edit.stopTime = ReadTrialNumber(arg, "auto_stop_time");
  }
  if (const mxArray* arg = Optional(nrhs, prhs, 5)) {
    if (!IsRealDouble(arg)) Fail("invalid auto_incr: a number is needed");
    edit.autoIncr = mxGetScalar(arg) != 0.0 ? 1u : 0u;   // NaN counts as on
  }
  if (const mxArray* arg = Optional(nrhs, prhs, 6)) {
    edit.incrNum = ReadTrialNumber(arg, "incr_num");
  }
  if (!edit.ApplyTo(&record)) {
    Fail("file name base too long: at most %zu characters",
         vorn::TrialRecordEdit::kMaxFileBaseChars);
  }

  // The record goes back even when nothing was changed.
  gClient->SendOperatorTrial(record.data(), id);
  RequestTrial(id);
  const std::vector<uint8_t> answer = WaitForTrial(id, kSecondWaitAttempts, kSecondWaitSleep);
  if (answer.empty()) Fail("operator %d did not answer after the trial was sent", id);

  vorn::TrialState state;
  if (!vorn::ReadTrialState(vorn::TrialRecordView(answer.data(), answer.size()), &state)) {
    Fail("Invalid recording code");
  }
  const char* fields[] = {"status", "filebase", "auto_incr", "stop_time", "incr_num"};
  plhs[0] = mxCreateStructMatrix(1, 1, 5, fields);
  mxSetField(plhs[0], 0, "status", mxCreateString(state.status.c_str()));
  mxSetField(plhs[0], 0, "filebase", mxCreateString(state.fileBase.c_str()));
  mxSetField(plhs[0], 0, "auto_incr", mxCreateDoubleScalar(state.autoIncr));
  mxSetField(plhs[0], 0, "stop_time", mxCreateDoubleScalar(state.stopTime));
  mxSetField(plhs[0], 0, "incr_num", mxCreateDoubleScalar(state.incrNum));
}

}  // namespace vornmex
