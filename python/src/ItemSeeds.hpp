#pragma once

// The starting states of augmentation items' random streams, worked out for a whole batch at
// once. Each item's stream is numpy's PCG64 seeded by numpy's SeedSequence with the caller's
// entropy and spawn key plus the item's key; made in Python, that SeedSequence and the state it
// generates cost about 10 µs an item, as much as the rest of an item's drawing. This is the same
// arithmetic as numpy's SeedSequence (which numpy keeps stable, so that seeds reproduce across
// its versions); the Python tests compare the two for random entropy, spawn keys, pool sizes
// and item keys.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::fx::seeds {

inline constexpr std::uint32_t kInitA = 0x43b0d7e5;
inline constexpr std::uint32_t kMultA = 0x931e8875;
inline constexpr std::uint32_t kInitB = 0x8b51f9dd;
inline constexpr std::uint32_t kMultB = 0x58f38ded;
inline constexpr std::uint32_t kMixMultL = 0xca01f9dd;
inline constexpr std::uint32_t kMixMultR = 0x4973f715;
inline constexpr int kXShift = 16;

// The words PCG64 asks of a seed sequence: four 64-bit words.
inline constexpr std::size_t kStateWords = 4;

// A whole number as numpy spreads it over 32-bit words: least significant first, and one
// word 0 for 0.
inline void appendWords(std::uint64_t value, std::vector<std::uint32_t>& words) {
  if (value == 0) {
    words.push_back(0);
    return;
  }
  while (value != 0) {
    words.push_back(static_cast<std::uint32_t>(value));
    value >>= 32;
  }
}

class SeedMixer {
 public:
  std::uint32_t hashmix(std::uint32_t value) noexcept {
    value ^= hashConst_;
    hashConst_ *= kMultA;
    value *= hashConst_;
    value ^= value >> kXShift;
    return value;
  }

 private:
  std::uint32_t hashConst_ = kInitA;
};

inline std::uint32_t mix(std::uint32_t x, std::uint32_t y) noexcept {
  std::uint32_t result = kMixMultL * x - kMixMultR * y;
  result ^= result >> kXShift;
  return result;
}

// The pool of a seed sequence whose assembled entropy is `entropy` (its own words, padded with
// zeros to the pool's size when there is a spawn key, then the spawn key's words).
inline std::vector<std::uint32_t> mixPool(const std::vector<std::uint32_t>& entropy,
                                          std::size_t poolSize) {
  std::vector<std::uint32_t> pool(poolSize);
  SeedMixer hash;
  for (std::size_t i = 0; i < poolSize; ++i) {
    pool[i] = hash.hashmix(i < entropy.size() ? entropy[i] : 0);
  }
  for (std::size_t source = 0; source < poolSize; ++source) {
    for (std::size_t target = 0; target < poolSize; ++target) {
      if (source != target) pool[target] = mix(pool[target], hash.hashmix(pool[source]));
    }
  }
  for (std::size_t source = poolSize; source < entropy.size(); ++source) {
    for (std::size_t target = 0; target < poolSize; ++target) {
      pool[target] = mix(pool[target], hash.hashmix(entropy[source]));
    }
  }
  return pool;
}

// generate_state(4, uint64) of that pool.
inline std::array<std::uint64_t, kStateWords> generateState(
    const std::vector<std::uint32_t>& pool) {
  std::uint32_t hashConst = kInitB;
  std::array<std::uint32_t, 2 * kStateWords> halves{};
  for (std::size_t i = 0; i < halves.size(); ++i) {
    std::uint32_t value = pool[i % pool.size()];
    value ^= hashConst;
    hashConst *= kMultB;
    value *= hashConst;
    value ^= value >> kXShift;
    halves[i] = value;
  }
  std::array<std::uint64_t, kStateWords> state{};
  for (std::size_t i = 0; i < kStateWords; ++i) {
    state[i] = halves[2 * i] | (std::uint64_t{halves[2 * i + 1]} << 32);
  }
  return state;
}

// Item k's state: the sequence of `entropy` (words) and `spawnKey` (the spawn key's words)
// spawned with keys[k] appended to its key. poolSize is at least 1.
inline std::vector<std::array<std::uint64_t, kStateWords>> itemStates(
    const std::vector<std::uint32_t>& entropy, const std::vector<std::uint32_t>& spawnKey,
    std::size_t poolSize, const std::vector<std::uint64_t>& keys) {
  // A spawned sequence always has a key, so its own entropy is always padded.
  std::vector<std::uint32_t> assembled = entropy;
  if (assembled.size() < poolSize) assembled.resize(poolSize, 0);
  assembled.insert(assembled.end(), spawnKey.begin(), spawnKey.end());
  const std::size_t shared = assembled.size();
  std::vector<std::array<std::uint64_t, kStateWords>> states;
  states.reserve(keys.size());
  for (const std::uint64_t key : keys) {
    assembled.resize(shared);
    appendWords(key, assembled);
    states.push_back(generateState(mixPool(assembled, poolSize)));
  }
  return states;
}

}  // namespace orvane::fx::seeds
