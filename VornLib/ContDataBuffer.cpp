#include "ContDataBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "ByteOrder.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

constexpr uint8_t kGapMarkerByte = 0xFE;
// The largest ring we agree to allocate for one stream (values, not bytes).
constexpr uint64_t kMaxRingValues = uint64_t{1} << 31;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kHostLittleEndian = true;
#else
constexpr bool kHostLittleEndian = false;
#endif

template <typename T>
void CopyFrame(T* dst, const uint8_t* src, uint32_t n) {
  if constexpr (kHostLittleEndian) {
    const size_t bytes = static_cast<size_t>(n) * sizeof(T);
    // Frames of one 32-channel front end, copied with a size the compiler knows.
    if (bytes == 64) {
      std::memcpy(dst, src, 64);
    } else if (bytes == 128) {
      std::memcpy(dst, src, 128);
    } else {
      std::memcpy(dst, src, bytes);
    }
  } else if constexpr (std::is_same_v<T, int16_t>) {
    for (uint32_t i = 0; i < n; ++i) dst[i] = LoadI16(src + 2 * i);
  } else {
    for (uint32_t i = 0; i < n; ++i) dst[i] = LoadF32(src + 4 * i);
  }
}

}  // namespace

template <typename T>
ContDataBuffer<T>::ContDataBuffer(uint32_t capacity, uint32_t channelCount, uint32_t samplePeriod,
                                  double scale)
    : mCapacity(capacity), mChannelCount(channelCount), mSamplePeriod(samplePeriod), mScale(scale) {
  const uint64_t values = static_cast<uint64_t>(capacity) * channelCount;
  if (values == 0 || samplePeriod == 0 || values > kMaxRingValues) {
    mCapacity = 0;   // an inert buffer: stores and reads nothing
    return;
  }
  // calloc: the ring starts zero-filled without touching every page now.
  mSamples.reset(static_cast<T*>(std::calloc(static_cast<size_t>(values), sizeof(T))));
  if (!mSamples) {
    mCapacity = 0;
    return;
  }
  mRingSize = static_cast<uint32_t>(values);
}

template <typename T>
ContDataBuffer<T>::~ContDataBuffer() = default;

template <typename T>
void ContDataBuffer<T>::Advance(uint32_t frames) {
  // frames <= capacity, so one subtraction brings the position back.
  uint32_t pos = mWritePos + frames * mChannelCount;
  if (pos >= mRingSize) pos -= mRingSize;
  mWritePos = pos;
  mValidFrames = std::min(mCapacity, mValidFrames + frames);
}

template <typename T>
void ContDataBuffer<T>::WriteMarkers(uint32_t frames) {
  size_t values = static_cast<size_t>(frames) * mChannelCount;
  size_t first = std::min<size_t>(values, mRingSize - mWritePos);
  std::memset(mSamples.get() + mWritePos, kGapMarkerByte, first * sizeof(T));
  std::memset(mSamples.get(), kGapMarkerByte, (values - first) * sizeof(T));
  Advance(frames);
}

template <typename T>
bool ContDataBuffer<T>::WriteFrame(const uint8_t* frame, size_t frameBytes, uint32_t timestamp) {
  if (mCapacity == 0 || frameBytes < FrameBytes()) return false;
  if (timestamp <= mLastTimestamp) {
    if (mLastTimestamp - timestamp <= kContRingTicks) {
      ++mCounters.lateIgnored;
      return true;
    }
    // The clock went back further than the ring reaches: the instrument
    // restarted. Forget what the ring holds and start again from this frame.
    ++mCounters.restarts;
    mValidFrames = 0;
    mLastTimestamp = 0;
  }
  // k = the step in sample periods; divide only when it is a gap (k >= 2).
  const uint32_t step = timestamp - mLastTimestamp;
  if (mLastTimestamp != 0 && step / 2 >= mSamplePeriod) {
    const uint32_t k = step / mSamplePeriod;
    std::fprintf(stderr, "Warning: missed %u data points\n", k);
    mCounters.framesMissed += k - 1;
    WriteMarkers(std::min(k - 1, mCapacity - 1));
  }
  CopyFrame(mSamples.get() + mWritePos, frame, mChannelCount);
  Advance(1);
  mLastTimestamp = timestamp;
  ++mCounters.framesStored;
  return true;
}

template <typename T>
void ContDataBuffer<T>::Gather(float* const* out, const uint32_t* channels, size_t nch,
                               uint32_t age, uint32_t n, bool applyScale) const {
  // Frames older than the first stored one read as 0, as a zero-filled ring would.
  uint32_t zeros = age > mValidFrames ? std::min(n, age - mValidFrames) : 0;
  for (size_t j = 0; j < nch; ++j) std::fill(out[j], out[j] + zeros, 0.0f);

  const uint32_t writeFrame = mWritePos / mChannelCount;
  uint32_t frame = writeFrame + mCapacity - age + zeros;   // < 2 x capacity
  if (frame >= mCapacity) frame -= mCapacity;
  const T* samples = mSamples.get();
  const double scale = applyScale ? mScale : 1.0;
  // Blocks of frames small enough to stay in the first-level cache while
  // every wanted channel is picked out of them.
  constexpr uint32_t kBlockFrames = 256;
  uint32_t i = zeros;
  while (i < n) {
    uint32_t run = std::min({n - i, mCapacity - frame, kBlockFrames});
    const T* row = samples + static_cast<size_t>(frame) * mChannelCount;
    for (size_t j = 0; j < nch; ++j) {
      const T* src = row + channels[j];
      float* dst = out[j] + i;
      if (applyScale) {
        for (uint32_t r = 0; r < run; ++r, src += mChannelCount)
          dst[r] = static_cast<float>(static_cast<double>(*src) * scale);
      } else {
        for (uint32_t r = 0; r < run; ++r, src += mChannelCount) dst[r] = static_cast<float>(*src);
      }
    }
    i += run;
    frame += run;
    if (frame == mCapacity) frame = 0;
  }
}

template <typename T>
void ContDataBuffer<T>::GatherCarried(float* const* out, const uint32_t* channels, size_t nch,
                                      uint32_t age, uint32_t n, bool applyScale) const {
  // In batches of 32, keeping only the channels this stream carries.
  uint32_t local[32];
  float* localOut[32];
  for (size_t done = 0; done < nch; done += 32) {
    size_t batch = std::min<size_t>(32, nch - done);
    size_t kept = 0;
    for (size_t j = 0; j < batch; ++j) {
      if (!CarriesChannel(channels[done + j])) continue;
      local[kept] = channels[done + j] & 31u;
      localOut[kept] = out[done + j];
      ++kept;
    }
    if (kept != 0) Gather(localOut, local, kept, age, n, applyScale);
  }
}

template <typename T>
uint32_t ContDataBuffer<T>::ReadLatestChannels(uint32_t* outFirstTime, float* const* out,
                                               const uint32_t* channels, size_t channelCount,
                                               uint32_t count, bool applyScale) const {
  if (mCapacity == 0) {
    *outFirstTime = mLastTimestamp;
    return 0;
  }
  uint32_t n = std::min(count, mCapacity);
  *outFirstTime = mLastTimestamp - mSamplePeriod * n;
  GatherCarried(out, channels, channelCount, n, n, applyScale);
  return n;
}

template <typename T>
uint32_t ContDataBuffer<T>::ReadFromChannels(float* const* out, uint32_t wantedTime,
                                             const uint32_t* channels, size_t channelCount,
                                             uint32_t count, bool applyScale) const {
  if (mCapacity == 0) return 0;
  if (wantedTime > mLastTimestamp) {
    std::fprintf(stderr, "warning: timestamp: %u, %u\n", wantedTime, mLastTimestamp);
    return 0;
  }
  uint32_t age = (mLastTimestamp - wantedTime) / mSamplePeriod;
  if (age > mCapacity) {
    std::fprintf(stderr, "warning: invalid timestamp\n");
    return 0;
  }
  uint32_t n = std::min(count, age);
  GatherCarried(out, channels, channelCount, age, n, applyScale);
  return n;
}

template <typename T>
uint32_t ContDataBuffer<T>::ReadLatest(uint32_t* outFirstTime, float* out, uint32_t channel,
                                       uint32_t count, bool applyScale) const {
  if (!CarriesChannel(channel)) {
    *outFirstTime = mLastTimestamp;
    return 0;
  }
  float* const outs[1] = {out};
  return ReadLatestChannels(outFirstTime, outs, &channel, 1, count, applyScale);
}

template <typename T>
uint32_t ContDataBuffer<T>::ReadFrom(float* out, uint32_t wantedTime, uint32_t channel,
                                     uint32_t count, bool applyScale) const {
  if (!CarriesChannel(channel)) return 0;
  float* const outs[1] = {out};
  return ReadFromChannels(outs, wantedTime, &channel, 1, count, applyScale);
}

template class ContDataBuffer<int16_t>;
template class ContDataBuffer<float>;

}  // namespace vorn
