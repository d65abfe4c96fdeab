// ContDataBuffer: the last 150000 clock ticks (5 s) of one continuous stream,
// frame after frame, channel-interleaved, in a ring allocated once.
//
// Threads: WriteFrame runs on the listening thread, the readers on MATLAB's
// thread; both hold the cache mutex. No lock of its own.
// When full: the oldest frame is overwritten. A gap of k >= 2 periods writes
// k - 1 marker frames (every byte 0xFE) before the new frame, at most one
// ring's worth. Late and duplicate frames are dropped and counted; a clock
// that jumps back by more than kContRingTicks is a restarted instrument: the
// ring is emptied (in O(1)) and the frame stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vorn {

// Counters for diagnostics and benchmarks.
struct ContBufferCounters {
  uint64_t framesStored = 0;   // frames received and stored
  uint64_t framesMissed = 0;   // marker frames written for gaps (frames that never came)
  uint64_t lateIgnored = 0;    // packets not newer than the last one
  uint64_t restarts = 0;       // backward clock jumps that emptied the ring
};

template <typename T>
class ContDataBuffer {
 public:
  // A ring of capacity frames of channelCount samples, samplePeriod clock
  // ticks apart. A capacity or channel count of 0 makes a buffer that
  // stores nothing.
  ContDataBuffer(uint32_t capacity, uint32_t channelCount, uint32_t samplePeriod, double scale);
  virtual ~ContDataBuffer();
  ContDataBuffer(const ContDataBuffer&) = delete;
  ContDataBuffer& operator=(const ContDataBuffer&) = delete;

  // Bytes of one frame in a packet (channel count x sample size).
  size_t FrameBytes() const { return static_cast<size_t>(mChannelCount) * sizeof(T); }

  // Stores one frame of little-endian samples read from frame. frameBytes
  // is what the packet holds from the frame's first byte on; a frame that
  // does not fit in it is refused (false). Allocates nothing.
  bool WriteFrame(const uint8_t* frame, size_t frameBytes, uint32_t timestamp);

  // The newest min(count, capacity) values of one channel (electrode mod 32),
  // oldest first; outFirstTime = last timestamp - period x n. Returns n.
  // A channel the stream does not carry gives 0 values.
  uint32_t ReadLatest(uint32_t* outFirstTime, float* out, uint32_t channel, uint32_t count,
                      bool applyScale) const;
  // The values of one channel from wantedTime on (see the class comment);
  // returns their number. Future and too old times print a warning and give 0.
  uint32_t ReadFrom(float* out, uint32_t wantedTime, uint32_t channel, uint32_t count,
                    bool applyScale) const;

  // Several channels in one pass over the ring: out[j] receives the values
  // of channels[j] (electrode numbers) exactly as ReadLatest / ReadFrom give
  // them. Returns the common value count. Rows of channels the stream does
  // not carry (see CarriesChannel) are left untouched.
  uint32_t ReadLatestChannels(uint32_t* outFirstTime, float* const* out, const uint32_t* channels,
                              size_t channelCount, uint32_t count, bool applyScale) const;
  uint32_t ReadFromChannels(float* const* out, uint32_t wantedTime, const uint32_t* channels,
                            size_t channelCount, uint32_t count, bool applyScale) const;
  bool CarriesChannel(uint32_t channel) const { return (channel & 31u) < mChannelCount; }

  uint32_t GetCapacity() const { return mCapacity; }
  uint32_t GetChannelCount() const { return mChannelCount; }
  uint32_t GetSamplePeriod() const { return mSamplePeriod; }
  uint32_t GetLastTimestamp() const { return mLastTimestamp; }
  double GetScale() const { return mScale; }
  size_t GetMemoryBytes() const { return static_cast<size_t>(mRingSize) * sizeof(T); }
  const ContBufferCounters& GetCounters() const { return mCounters; }

 private:
  struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
  };

  // Reads n frames starting age frames before the write position into the
  // rows of the carried channels among channels[0..nch).
  void Gather(float* const* out, const uint32_t* channels, size_t nch, uint32_t age, uint32_t n,
              bool applyScale) const;
  void GatherCarried(float* const* out, const uint32_t* channels, size_t nch, uint32_t age,
                     uint32_t n, bool applyScale) const;
  void WriteMarkers(uint32_t frames);
  void Advance(uint32_t frames);

  std::unique_ptr<T, FreeDeleter> mSamples;
  uint32_t mCapacity = 0;
  uint32_t mChannelCount = 0;
  uint32_t mRingSize = 0;
  uint32_t mWritePos = 0;
  uint32_t mSamplePeriod = 0;
  uint32_t mLastTimestamp = 0;
  double mScale = 1.0;
  uint32_t mValidFrames = 0;   // frames written since creation or restart, at most capacity
  ContBufferCounters mCounters;
};

extern template class ContDataBuffer<int16_t>;
extern template class ContDataBuffer<float>;

}  // namespace vorn
