// 'digin': the digital input events that arrived since the previous call.
//
//   [count, times, events] = vornmex('digin')
//
// count is at most 1024 (the event buffer's capacity); events is a 1 x count
// structure array whose fields are int16 scalars, so input words above 32767
// read as negative numbers. Further inputs are ignored.
//
// Threads: MATLAB's thread. The cache lock is held only around the drain;
// the MATLAB arrays are built after it is released.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "ByteOrder.h"
#include "VornCache.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {
namespace {

// One stored digital event record: the packet as received.
namespace digevent {
constexpr size_t kReason = 12;     // u8
constexpr size_t kParallel = 14;   // u16
constexpr size_t kSma1 = 16;       // u16, then sma2..sma4 every 2 bytes
constexpr size_t kBytes = vorn::kEventPacketBytes;
static_assert(kSma1 + 4 * 2 <= kBytes, "event fields lie inside the record");
}  // namespace digevent

constexpr uint32_t kMaxEvents = vorn::kEventBufferRecords;

// Field names, in the order the structure is created with.
const char* const kFieldNames[] = {"reason", "sma1", "sma2", "sma3", "sma4", "parallel"};
constexpr int kFieldCount = 6;

mxArray* Int16Scalar(uint16_t bits) {
  mxArray* a = mxCreateNumericMatrix(1, 1, mxINT16_CLASS, mxREAL);
  int16_t value = static_cast<int16_t>(bits);
  *static_cast<int16_t*>(mxGetData(a)) = value;
  return a;
}

}  // namespace

void CmdDigin(int nlhs, mxArray* plhs[], int, const mxArray*[]) {
  std::vector<uint8_t> staging(static_cast<size_t>(kMaxEvents) * digevent::kBytes);
  uint32_t arrived = 0;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    arrived = gCache->GetDigitalEvents(staging.data(), kMaxEvents);
  }
  const uint32_t m = std::min(arrived, kMaxEvents);

  // Only the outputs the caller asked for are written (at least the first).
  plhs[0] = mxCreateDoubleScalar(static_cast<double>(m));
  if (nlhs < 2) return;

  mxArray* times = mxCreateNumericMatrix(1, m, mxDOUBLE_CLASS, mxREAL);
  double* t = mxGetPr(times);
  for (uint32_t j = 0; j < m; ++j) {
    t[j] = static_cast<double>(vorn::LoadU32(&staging[j * digevent::kBytes + vorn::hdr::kTime]));
  }
  plhs[1] = times;
  if (nlhs < 3) return;

  mxArray* events = mxCreateStructMatrix(1, m, kFieldCount, const_cast<const char**>(kFieldNames));
  for (uint32_t j = 0; j < m; ++j) {
    const uint8_t* rec = &staging[j * digevent::kBytes];
    mxSetField(events, j, "reason", Int16Scalar(rec[digevent::kReason]));
    for (int k = 0; k < 4; ++k) {
      mxSetField(events, j, kFieldNames[1 + k],
                 Int16Scalar(vorn::LoadU16(rec + digevent::kSma1 + 2 * static_cast<size_t>(k))));
    }
    mxSetField(events, j, "parallel", Int16Scalar(vorn::LoadU16(rec + digevent::kParallel)));
  }
  plhs[2] = events;
}

}  // namespace vornmex
