#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include <orvane/sdk/Export.hpp>

namespace orvane {

// Non-interleaved samples: one contiguous array per channel.
//
// A buffer either owns its samples (allocated silent by the owning constructor) or views channel
// memory that the caller owns, so a host can hand in its own arrays without a copy. A view never
// allocates, which makes it cheap to build on the audio thread for every block.
//
// getSample/setSample are inline and unchecked: the caller keeps channel < getNumberOfChannels()
// and frame < getNumberOfFrames().
template <typename T>
class AudioBuffer {
 public:
  // Any thread; allocates. Owns channels × frames samples, all zero.
  AudioBuffer(unsigned int numberOfChannels, unsigned int numberOfFrames, unsigned int sampleRate)
      : storage_(static_cast<std::size_t>(numberOfChannels) * numberOfFrames),
        pointers_(numberOfChannels),
        numberOfChannels_(numberOfChannels),
        numberOfFrames_(numberOfFrames),
        sampleRate_(sampleRate) {
    for (unsigned int c = 0; c < numberOfChannels; ++c) {
      pointers_[c] = storage_.data() + static_cast<std::size_t>(c) * numberOfFrames;
    }
    channels_ = pointers_.data();
  }

  // Any thread, including the audio thread; never allocates. Views the caller's channel arrays:
  // channelPointers[c] points at numberOfFrames samples of channel c. The pointer array and the
  // sample memory must outlive the buffer.
  AudioBuffer(T* const* channelPointers, unsigned int numberOfChannels, unsigned int numberOfFrames,
              unsigned int sampleRate) noexcept
      : channels_(channelPointers),
        numberOfChannels_(numberOfChannels),
        numberOfFrames_(numberOfFrames),
        sampleRate_(sampleRate) {}

  AudioBuffer(const AudioBuffer&) = delete;
  AudioBuffer& operator=(const AudioBuffer&) = delete;
  // The moved-from buffer is left empty (no channels, no frames).
  AudioBuffer(AudioBuffer&& other) noexcept { *this = std::move(other); }
  AudioBuffer& operator=(AudioBuffer&& other) noexcept {
    if (this != &other) {
      // Moving a vector hands over its heap block, so an owning buffer's channel pointers stay
      // valid and channels_ carries over unchanged in both cases.
      storage_ = std::move(other.storage_);
      pointers_ = std::move(other.pointers_);
      channels_ = other.channels_;
      numberOfChannels_ = other.numberOfChannels_;
      numberOfFrames_ = other.numberOfFrames_;
      sampleRate_ = other.sampleRate_;
      other.channels_ = nullptr;
      other.numberOfChannels_ = 0;
      other.numberOfFrames_ = 0;
    }
    return *this;
  }

  unsigned int getNumberOfChannels() const noexcept { return numberOfChannels_; }
  unsigned int getNumberOfFrames() const noexcept { return numberOfFrames_; }
  unsigned int getSampleRate() const noexcept { return sampleRate_; }
  void setSampleRate(unsigned int sampleRate) noexcept { sampleRate_ = sampleRate; }

  T getSample(unsigned int channel, unsigned int frame) const noexcept {
    return channels_[channel][frame];
  }
  void setSample(unsigned int channel, unsigned int frame, T value) noexcept {
    channels_[channel][frame] = value;
  }

  T* getChannel(unsigned int channel) noexcept { return channels_[channel]; }
  const T* getChannel(unsigned int channel) const noexcept { return channels_[channel]; }

 private:
  std::vector<T> storage_;
  std::vector<T*> pointers_;
  T* const* channels_ = nullptr;
  unsigned int numberOfChannels_ = 0;
  unsigned int numberOfFrames_ = 0;
  unsigned int sampleRate_ = 0;
};

// The shape a bus carries between two nodes.
class ORVANE_SDK_API AudioBusFormat {
 public:
  explicit AudioBusFormat(unsigned int numberOfChannels = 0) noexcept
      : numberOfChannels_(numberOfChannels) {}

  unsigned int getNumberOfChannels() const noexcept { return numberOfChannels_; }
  void setNumberOfChannels(unsigned int numberOfChannels) noexcept {
    numberOfChannels_ = numberOfChannels;
  }

  // Two formats may be connected when they carry the same, non-zero number of channels: a
  // processor never up- or down-mixes, and a bus with no channel carries nothing.
  static bool matchBusFormats(const AudioBusFormat& a, const AudioBusFormat& b) noexcept {
    return a.numberOfChannels_ != 0 && a.numberOfChannels_ == b.numberOfChannels_;
  }

 private:
  unsigned int numberOfChannels_;
};

// One bus of a node: refers to (does not own) one buffer of float samples.
class ORVANE_SDK_API AudioBus {
 public:
  explicit AudioBus(AudioBuffer<float>& buffer) noexcept : buffer_(&buffer) {}

  AudioBuffer<float>& getBuffer() const noexcept { return *buffer_; }

  // Audio thread safe; never allocates. Leaves this bus holding the other's samples. Where both
  // refer to the same memory (in-place processing) nothing moves. Where the sizes differ, only
  // the channels and frames both have are copied and the rest of this bus is silenced; nothing
  // is written outside this bus's buffer. The sample rate is not copied.
  void copyFrom(const AudioBus& other) noexcept;

  // Audio thread safe; never allocates. The same result as copyFrom once the caller has written
  // the first `channels` channels' first `frames` frames itself: those are left alone, so a
  // processor that writes every sample it processes pays only for the copy of what it does not
  // (the part of a block beyond its channel capacity, the silence a larger bus gets).
  // Where the two buses' memory overlaps other than channel for channel in place, a copy could
  // change what the caller then reads, so everything is copied, exactly as copyFrom does.
  void copyFromExcept(const AudioBus& other, unsigned int channels, unsigned int frames) noexcept;

 private:
  AudioBuffer<float>* buffer_;
};

}  // namespace orvane
