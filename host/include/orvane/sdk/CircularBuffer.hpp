#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvane {

// A ring of float samples with one write position and one read position.
//
// Every method that takes a position or a step accepts any value and lands it inside the ring
// (modulo size), so no call can read or write outside the samples. All methods but the
// constructor are audio-thread safe: inline, no allocation, no lock.
//
// `size` and `writePointer` are public so that effects can read them directly; treat them as
// read-only. A moved-from ring may only be destroyed or assigned to.
struct CircularBuffer {
  // Allocates `size` silent samples; a size below 1 throws std::invalid_argument.
  explicit CircularBuffer(int size) : samples(checkedSize(size), 0.0f), size(size) {}

  std::vector<float> samples;
  int size;
  int writePointer = 0;
  int readPointer = 0;

  // Silences every stored sample. Both positions stay where they are, so a delay line cleared
  // on a format change keeps the distance between its read and write positions.
  void reset() noexcept { std::fill(samples.begin(), samples.end(), 0.0f); }

  void writeSample(float value) noexcept {
    samples[static_cast<std::size_t>(writePointer)] = value;
  }
  float readSample() const noexcept { return samples[static_cast<std::size_t>(readPointer)]; }

  void stepWritePointer(int count) noexcept { writePointer = advance(writePointer, count); }
  void stepReadPointer(int count) noexcept { readPointer = advance(readPointer, count); }

  // Any int, negative or many sizes away, is taken modulo size.
  void setReadPointer(int position) noexcept { readPointer = wrap(position); }

  // A copy of the ring's positions for a tight loop: reads, writes and unit steps exactly as
  // the ring's own methods do, with the positions in locals (registers) instead of memory.
  // Store it back with `release` when the loop is done; the ring must not be used meanwhile.
  struct Cursor {
    float* samples;
    int size;
    int writePointer;
    int readPointer;

    float readSample() const noexcept { return samples[readPointer]; }
    void writeSample(float value) noexcept { samples[writePointer] = value; }
    void stepWritePointer() noexcept {
      writePointer = writePointer + 1 == size ? 0 : writePointer + 1;
    }
    void stepReadPointer() noexcept { readPointer = readPointer + 1 == size ? 0 : readPointer + 1; }
    float interpolate(float p) const noexcept {
      return CircularBuffer::interpolate(samples, size, p);
    }
  };
  Cursor acquire() noexcept { return Cursor{samples.data(), size, writePointer, readPointer}; }
  void release(const Cursor& cursor) noexcept {
    writePointer = cursor.writePointer;
    readPointer = cursor.readPointer;
  }

  // The content at fractional index p: linear between the neighbouring samples, wrapping from
  // the last sample to the first, and exactly the stored sample at a whole index. A p outside
  // [0, size) is taken modulo size; an infinite or NaN p reads as silence.
  float interpolate(float p) const noexcept { return interpolate(samples.data(), size, p); }

  static float interpolate(const float* samples, int size, float p) noexcept {
    const float length = static_cast<float>(size);
    if (!(p >= 0.0f && p < length)) [[unlikely]] {
      if (!std::isfinite(p)) return 0.0f;
      p = std::fmod(p, length);
      if (p < 0.0f) p += length;
      if (!(p < length)) p = 0.0f;  // a tiny negative p plus size rounds up to size
    }
    const int index = static_cast<int>(p);
    const float fraction = p - static_cast<float>(index);
    const int next = index + 1 == size ? 0 : index + 1;
    // Weighted sum rather than a + f * (b - a): at f == 0 it returns a exactly even when b - a
    // would overflow.
    return samples[index] * (1.0f - fraction) + samples[next] * fraction;
  }

 private:
  static std::size_t checkedSize(int size) {
    if (size < 1) throw std::invalid_argument("CircularBuffer: size must be at least 1");
    return static_cast<std::size_t>(size);
  }
  int wrap(std::int64_t position) const noexcept {
    const std::int64_t r = position % size;
    return static_cast<int>(r < 0 ? r + size : r);
  }
  int advance(int position, int count) const noexcept {
    const std::int64_t next = static_cast<std::int64_t>(position) + count;
    return next >= 0 && next < size ? static_cast<int>(next) : wrap(next);
  }
};

}  // namespace orvane
