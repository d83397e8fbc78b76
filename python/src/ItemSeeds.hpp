#pragma once

// The starting states of augmentation items' random streams, worked out for a whole batch at
// once. Each item's stream is numpy's PCG64 seeded by numpy's SeedSequence with the caller's
// entropy and spawn key plus the item's key; made in Python, that SeedSequence and the state it
// generates cost about 10 µs an item, as much as the rest of an item's drawing. This is the same
// arithmetic as numpy's SeedSequence (which numpy keeps stable, so that seeds reproduce across
// its versions); the Python tests compare the two for random entropy, spawn keys, pool sizes
// and item keys.

#include <array>
#include <charconv>
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

// numpy's PCG64 bit generator seeded with a state from generateState, and Generator.random()
// drawn from it: a 128-bit linear congruential step, the XSL-RR output of the new state, and
// its top 53 bits as a double in [0, 1). The Python tests hold its draws, through Augment,
// to numpy's own.
class Pcg64 {
 public:
  explicit Pcg64(const std::array<std::uint64_t, kStateWords>& seed) noexcept {
    // As numpy seeds it: words 0 and 1 the initial state (high, low), words 2 and 3 the
    // stream (the increment is that times two, plus one).
    increment_ = (wide(seed[2], seed[3]) << 1U) | 1U;
    state_ = 0;
    step();
    state_ += wide(seed[0], seed[1]);
    step();
  }

  std::uint64_t next() noexcept {
    step();
    const auto high = static_cast<std::uint64_t>(state_ >> 64U);
    const auto low = static_cast<std::uint64_t>(state_);
    const auto rotation = static_cast<unsigned>(state_ >> kRotationShift);
    const std::uint64_t mixed = high ^ low;
    return (mixed >> rotation) | (mixed << ((64U - rotation) & 63U));
  }

  double random() noexcept {
    constexpr double kUnit = 1.0 / 9007199254740992.0;  // 2^-53
    return static_cast<double>(next() >> 11U) * kUnit;
  }

  // Generator.integers(low, low + span, endpoint=True) for a span under 2^32 − 1: numpy's
  // bounded draw (Lemire's multiply and reject) from 32-bit draws, each the low half of a
  // 64-bit one and then its high half, kept between calls as the bit generator keeps it. A
  // span of 0 draws nothing.
  std::int64_t integer(std::int64_t low, std::uint32_t span) noexcept {
    if (span == 0) return low;
    const std::uint64_t excluded = std::uint64_t{span} + 1;
    std::uint64_t scaled = std::uint64_t{next32()} * excluded;
    auto leftover = static_cast<std::uint32_t>(scaled);
    if (leftover < excluded) {
      const auto threshold = static_cast<std::uint32_t>((UINT32_MAX - span) % excluded);
      while (leftover < threshold) {
        scaled = std::uint64_t{next32()} * excluded;
        leftover = static_cast<std::uint32_t>(scaled);
      }
    }
    return low + static_cast<std::int64_t>(scaled >> 32U);
  }

 private:
  __extension__ using Wide = unsigned __int128;
  static constexpr unsigned kRotationShift = 122;
  static Wide wide(std::uint64_t high, std::uint64_t low) noexcept {
    return (static_cast<Wide>(high) << 64U) | low;
  }
  void step() noexcept {
    constexpr Wide kMultiplier =
        (static_cast<Wide>(2549297995355413924ULL) << 64U) | 4865540595714422341ULL;
    state_ = state_ * kMultiplier + increment_;
  }

  std::uint32_t next32() noexcept {
    if (hasHalf_) {
      hasHalf_ = false;
      return half_;
    }
    const std::uint64_t whole = next();
    hasHalf_ = true;
    half_ = static_cast<std::uint32_t>(whole >> 32U);
    return static_cast<std::uint32_t>(whole);
  }

  Wide state_;
  Wide increment_;
  bool hasHalf_ = false;
  std::uint32_t half_ = 0;
};

// A drawn number as a setting keeps it: narrowed to float32, then the shortest decimal that
// reads back as that float32, read as a double. Records then show 0.0015, not
// 0.001500000013038516, and set again to the very value drawn.
inline double asFloat32Decimal(double value) noexcept {
  char digits[64];
  const auto written = std::to_chars(digits, digits + sizeof digits, static_cast<float>(value));
  double decimal = 0.0;
  std::from_chars(digits, written.ptr, decimal);
  return decimal;
}

}  // namespace orvane::fx::seeds
