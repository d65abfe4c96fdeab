// 'spike' and 'stimdata': the spike (or stimulation) waveform segments of
// each electrode that arrived since that electrode's buffer was last read.
//
//   [count, times, wfs] = vornmex('spike', elec [, want_stim])
//   [count, times, wfs] = vornmex('stimdata', elec)
//
// count(i) counts every segment that arrived, times{i} and wfs{i} hold the
// newest min(count(i), 1024) of them, oldest first; waveforms are 1 x 52
// rows in physical units. Unknown electrodes give 0 and empty cells.
//
// Threads: MATLAB's thread. For each electrode the cache lock is held while
// its buffer is drained into the staging area and its scale is read; the
// MATLAB arrays are built after the lock is released, so the listening thread
// waits at most for one 120 kB copy.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "TruncateDouble.h"
#include "VornCache.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {
namespace {

constexpr const char* kSpikeUsage =
    "usage: [count, times, wfs] = vornmex('spike', elec [1-512][, want_stim=0])";
constexpr const char* kStimDataUsage =
    "usage: [count, times, wfs] = vornmex('stimdata', elec [1-512])";

constexpr uint32_t kMaxSegments = vorn::kSegmentBufferRecords;
constexpr size_t kSegmentBytes = vorn::kSegmentPacketBytes;
constexpr size_t kSamples = vorn::kSegmentSampleCount;
static_assert(vorn::kSegmentSamplesOffset + kSamples * 2 <= kSegmentBytes,
              "the waveform lies inside the record");

// Electrodes are a real double array; its number of columns counts them.
// An empty array (0 x N included) names none.
size_t ElectrodeCount(const mxArray* elec) {
  return mxIsEmpty(elec) ? 0 : mxGetN(elec);
}

// Zero-based electrode key of a 1-based electrode number; values that name
// no electrode (NaN, infinities, huge values) give -1, which is unknown.
int ElectrodeKey(double number) {
  std::optional<int32_t> key = vorn::TruncToInt32(number - 1.0);
  return key ? *key : -1;
}

}  // namespace

void CmdSpike(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  std::string command;
  ReadString(prhs[0], 16, &command);
  const bool stimData = command == "stimdata";
  const char* usage = stimData ? kStimDataUsage : kSpikeUsage;

  if (nrhs > 3 || nrhs == 1) Fail("%s", usage);
  const mxArray* elecArg = prhs[1];
  if (!mxIsDouble(elecArg)) Fail("%s", usage);

  bool stim = stimData;
  if (!stimData && nrhs == 3) {
    const mxArray* flag = prhs[2];
    if (!mxIsDouble(flag)) Fail("%s", usage);
    // Not 0.0 selects stimulation waveforms (NaN included); [] is the default.
    stim = !mxIsEmpty(flag) && mxGetPr(flag)[0] != 0.0;
  }

  const size_t n = ElectrodeCount(elecArg);
  const double* numbers = mxGetPr(elecArg);
  std::vector<int> keys(n);
  for (size_t i = 0; i < n; ++i) keys[i] = ElectrodeKey(numbers[i]);

  // Every buffer is drained; only the outputs the caller asked for are built
  // and handed back (at least the first).
  const bool wantTimes = nlhs >= 2;
  const bool wantWaveforms = nlhs >= 3;
  mxArray* counts = mxCreateDoubleMatrix(n, 1, mxREAL);
  mxArray* times = wantTimes ? mxCreateCellMatrix(n, 1) : nullptr;
  mxArray* waveforms = wantWaveforms ? mxCreateCellMatrix(n, 1) : nullptr;
  double* countValues = mxGetPr(counts);

  std::vector<uint8_t> staging(static_cast<size_t>(kMaxSegments) * kSegmentBytes);
  for (size_t i = 0; i < n; ++i) {
    const int e = keys[i];
    uint32_t arrived = 0;
    double scale = 0.0;
    {
      std::lock_guard<std::mutex> lock(*gCacheMutex);
      if (stim) {
        arrived = gCache->GetStimSegments(staging.data(), kMaxSegments, e);
        scale = gCache->GetStimScale(e);
      } else {
        arrived = gCache->GetSpikeSegments(staging.data(), kMaxSegments, e);
        scale = gCache->GetSpikeScale(e);
      }
    }
    const uint32_t m = std::min(arrived, kMaxSegments);
    countValues[i] = static_cast<double>(arrived);


    if (wantTimes) {
      mxArray* segmentTimes = mxCreateDoubleMatrix(1, m, mxREAL);
      double* t = mxGetPr(segmentTimes);
      for (uint32_t j = 0; j < m; ++j) {
        t[j] = static_cast<double>(vorn::LoadU32(&staging[j * kSegmentBytes + vorn::hdr::kTime]));
      }
      mxSetCell(times, i, segmentTimes);
    }
    if (wantWaveforms) {
      mxArray* segmentWaves = mxCreateCellMatrix(1, m);
      for (uint32_t j = 0; j < m; ++j) {
        const uint8_t* samples = &staging[j * kSegmentBytes + vorn::kSegmentSamplesOffset];
        mxArray* wave = mxCreateDoubleMatrix(1, kSamples, mxREAL);
        double* w = mxGetPr(wave);
        for (size_t k = 0; k < kSamples; ++k) {
          w[k] = static_cast<double>(vorn::LoadI16(samples + 2 * k)) * scale;
        }
        mxSetCell(segmentWaves, j, wave);
      }
      mxSetCell(waveforms, i, segmentWaves);
    }
  }

  plhs[0] = counts;
  if (wantTimes) plhs[1] = times;
  if (wantWaveforms) plhs[2] = waveforms;
}

}  // namespace vornmex
