// 'elec': the electrode numbers of every front end, or of the front ends
// whose module name contains a text.
//
//   e = vornmex('elec', headstage)
//
// Threads: MATLAB's thread. The cache lock is held only while the electrode
// keys are copied out; the result is built after it is released.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>

#include "VornCache.h"
#include "VornMex.h"

namespace vornmex {
namespace {

constexpr size_t kHeadstageBufferSize = 10240;
constexpr int kMaxElectrodes = 512;

}  // namespace

void CmdElec(int, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs != 2) Fail("usage: vornmex('elec', <headstage string>)");

  std::string headstage;
  if (!ReadString(prhs[1], kHeadstageBufferSize, &headstage)) Fail("invalid headstage string");
  if (headstage == "all") headstage.clear();

  int32_t keys[kMaxElectrodes];
  int count = 0;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    count = gCache->ListElectrodes(keys, kMaxElectrodes, headstage);
  }
  count = std::clamp(count, 0, kMaxElectrodes);

  mxArray* electrodes =
      mxCreateNumericMatrix(1, static_cast<size_t>(count), mxDOUBLE_CLASS, mxREAL);
  double* values = mxGetPr(electrodes);
  for (int i = 0; i < count; ++i) values[i] = static_cast<double>(keys[i]) + 1.0;
  plhs[0] = electrodes;
}

}  // namespace vornmex
