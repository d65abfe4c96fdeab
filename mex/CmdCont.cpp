// 'cont': continuous data of one stream type for a list of electrodes.
//
//   [data, t] = vornmex('cont', elec, dur, stream_type [, wanted_time])
//
// data has one row per electrode, one column per frame, oldest first, in
// physical units; t (uint32) is the instrument time of the first column.
// Without wanted_time (or with 0) the newest dur milliseconds are read;
// otherwise the frames from wanted_time on, at most dur milliseconds of them.
//
// What the caller sees where the reads disagree:
// - The column count is the value count of the last electrode; a row whose
//   electrode gave fewer values is NaN from there on (never staging bytes).
// - In the wanted-time mode t is wanted_time, also when nothing was read.
// - A duration that gives no frame (0, negative, NaN) gives an n x 0 result;
//   a longer one than any ring holds is read as the whole ring.
//
// Threads: MATLAB's thread. The staging area is allocated before the cache
// lock is taken; under the lock the values are only copied out of the rings
// (no MATLAB allocation, no error raised), and the result is built after the
// lock is released. While the lock is held the listening thread keeps
// draining the socket into its backlog.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TruncateDouble.h"
#include "VornCache.h"
#include "VornMex.h"
#include "VornProtocol.h"

namespace vornmex {
namespace {

constexpr const char* kUsage =
    "usage: vornmex('cont', elec [1-512], dur [ms], stream_type, wanted_time [KEL state clock])";
constexpr size_t kStreamTypeBufferSize = 128;
// No ring holds more frames than this (150000 ticks at a period of 1), so no
// read can give more values.
constexpr uint32_t kMaxFrames = vorn::kContRingTicks;

bool IsStreamUsable(const vorn::OutputStreamView& d) { return !d.Empty() && !d.Hidden(); }

// The first element of a real double argument, or none.
std::optional<double> FirstDouble(const mxArray* arg) {
  if (!mxIsDouble(arg) || mxIsEmpty(arg)) return std::nullopt;
  return mxGetPr(arg)[0];
}

// Frames in dur milliseconds of the 30 kHz clock at the given period,
// truncated toward zero: 0 when that is not positive (NaN included),
// kMaxFrames at most.
uint32_t FrameCount(double dur, uint32_t period) {
  if (period == 0) return 0;
  const double frames = dur * 30.0 / static_cast<double>(period);
  if (!(frames >= 1.0)) return 0;
  if (frames >= static_cast<double>(kMaxFrames)) return kMaxFrames;
  return static_cast<uint32_t>(frames);
}

// wanted_time truncated toward zero, as a 32-bit clock value; none when it
// does not name one.
std::optional<uint32_t> WantedTime(const mxArray* arg) {
  std::optional<double> v = FirstDouble(arg);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  const double t = std::trunc(*v);
  if (t < 0.0 || t > 4294967295.0) return std::nullopt;
  return static_cast<uint32_t>(t);
}

struct Electrode {
  int key = -1;            // zero-based; -1 names no electrode
  uint32_t got = 0;        // values read into its staging row
};

// "electrode %d not found" with the number truncated toward zero; numbers
// that no int holds are shown as MATLAB shows them.
[[noreturn]] void FailUnknownElectrode(double number) {
  std::optional<int32_t> shown = vorn::TruncToInt32(number);
  if (shown) Fail("electrode %d not found", static_cast<int>(*shown));
  if (std::isnan(number)) Fail("electrode NaN not found");
  if (std::isinf(number)) Fail(number > 0 ? "electrode Inf not found" : "electrode -Inf not found");
  Fail("electrode %.0f not found", std::trunc(number));
}

// Copies the staging rows into the column-major result: element (i, j) is
// value j of electrode i, NaN past the values that electrode gave. The
// result is written in tiles of 8 rows (one cache line of a column) by 64
// columns, so that both the rows read and the columns written stream.
void FillResult(double* out, const float* staging, size_t stride,
                const std::vector<Electrode>& electrodes, uint32_t columns) {
  const size_t n = electrodes.size();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr uint32_t kBlock = 64;
  constexpr size_t kTileRows = 8;
  for (uint32_t j0 = 0; j0 < columns; j0 += kBlock) {
    const uint32_t j1 = std::min(columns, j0 + kBlock);
    for (size_t i0 = 0; i0 < n; i0 += kTileRows) {
      const size_t rows = std::min(kTileRows, n - i0);
      // Columns [j0, full) hold values in every row of the tile.
      uint32_t full = j1;
      for (size_t k = 0; k < rows; ++k) {
        full = std::min(full, std::max(j0, electrodes[i0 + k].got));
      }
      uint32_t j = j0;
      if (rows == kTileRows) {
        const float* row[kTileRows];
        for (size_t k = 0; k < kTileRows; ++k) row[k] = staging + (i0 + k) * stride;
        for (; j < full; ++j) {
          double* dst = out + static_cast<size_t>(j) * n + i0;
          for (size_t k = 0; k < kTileRows; ++k) dst[k] = static_cast<double>(row[k][j]);
        }
      }
      for (; j < j1; ++j) {
        double* dst = out + static_cast<size_t>(j) * n + i0;
        for (size_t k = 0; k < rows; ++k) {
          const size_t i = i0 + k;
          dst[k] = j < electrodes[i].got ? static_cast<double>(staging[i * stride + j]) : nan;
        }
      }
    }
  }
}

}  // namespace

void CmdCont(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 4) Fail(kUsage);

  // Electrodes: a real double array, one electrode per column.
  const mxArray* elecArg = prhs[1];
  if (!mxIsDouble(elecArg) || mxIsEmpty(elecArg)) Fail(kUsage);
  const size_t n = mxGetN(elecArg);
  const double* numbers = mxGetPr(elecArg);
  std::vector<Electrode> electrodes(n);
  for (size_t i = 0; i < n; ++i) {
    std::optional<int32_t> key = vorn::TruncToInt32(numbers[i] - 1.0);
    electrodes[i].key = key ? *key : -1;
  }
  size_t unknown = n;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    for (size_t i = 0; i < n && unknown == n; ++i) {
      if (electrodes[i].key < 0 || !gCache->HasElectrode(electrodes[i].key)) unknown = i;
    }
  }
  if (unknown < n) FailUnknownElectrode(numbers[unknown]);

  std::optional<double> dur = FirstDouble(prhs[2]);
  if (!dur) Fail(kUsage);

  std::string streamType;
  if (!ReadString(prhs[3], kStreamTypeBufferSize, &streamType)) {
    Fail("invalid stream string provided for stream_type");
  }

  // The first electrode's stream gives the period that turns dur into frames.
  bool usable = false;
  uint32_t period = 0;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    vorn::OutputStreamView d =
        gCache->FindStreamForElectrode(electrodes[0].key, streamType, nullptr, nullptr);
    usable = IsStreamUsable(d);
    if (usable) period = d.Period().value_or(0);
  }
  if (!usable) Fail("invalid stream type.  Streams may be found with 'signal' command");
  const uint32_t count = FrameCount(*dur, period);

  uint32_t wantedTime = 0;
  if (nrhs == 5) {
    std::optional<uint32_t> wanted = WantedTime(prhs[4]);
    if (!wanted) Fail(kUsage);
    wantedTime = *wanted;
  }

  // Staging: count values per electrode, allocated before the lock (an
  // allocation failure reaches the user as "failed to allocate memory").
  const size_t stagingValues = std::max<size_t>(1, n * count);
  std::unique_ptr<float[]> staging(new float[stagingValues]);
  // Touch every page now, so that the kernel maps the area here and not
  // while the lock is held (hundreds of MB for a long read of many rows).
  constexpr size_t kPageValues = 4096 / sizeof(float);
  for (size_t v = 0; v < stagingValues; v += kPageValues) staging[v] = 0.0f;

  // The reads of one stream share one pass over its ring (GetContDataMany),
  // so the lock is held for about one copy of the wanted frames.
  std::vector<vorn::ContRead> reads(n);
  size_t invalid = n;
  {
    std::lock_guard<std::mutex> lock(*gCacheMutex);
    for (size_t i = 0; i < n; ++i) {
      vorn::ContRead& read = reads[i];
      read.electrode = electrodes[i].key;
      read.out = staging.get() + i * count;
      vorn::OutputStreamView d =
          gCache->FindStreamForElectrode(read.electrode, streamType, &read.module, &read.stream);
      if (!IsStreamUsable(d)) {
        invalid = i;
        break;
      }
    }
    if (invalid == n) gCache->GetContDataMany(reads.data(), n, count, wantedTime);
  }
  if (invalid < n) Fail("invalid stream type for elec: %d", electrodes[invalid].key + 1);

  for (size_t i = 0; i < n; ++i) electrodes[i].got = std::min(count, reads[i].values);
  // The time of the last electrode's read; in the wanted-time mode always
  // wanted_time, also when that read gave nothing.
  uint32_t firstTime = reads[n - 1].hasTime ? reads[n - 1].time : 0;
  if (wantedTime != 0) firstTime = wantedTime;

  const uint32_t columns = electrodes[n - 1].got;
  mxArray* data = mxCreateUninitNumericMatrix(n, columns, mxDOUBLE_CLASS, mxREAL);
  FillResult(mxGetPr(data), staging.get(), count, electrodes, columns);
  staging.reset();

  plhs[0] = data;
  if (nlhs >= 2) {
    mxArray* t = mxCreateNumericMatrix(1, 1, mxUINT32_CLASS, mxREAL);
    *static_cast<uint32_t*>(mxGetData(t)) = firstTime;
    plhs[1] = t;
  }
}

}  // namespace vornmex
