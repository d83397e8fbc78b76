#pragma once

// Memory for the arrays a batch returns, kept when Python drops them so that the next batch of
// about the same size gets memory the system has already mapped. A fresh 8 MB array (64
// one-second stereo clips at 16 kHz) costs this machine 6 ms of page faults before the first
// sample is written, as long as the effects take on the whole batch: allocators hand such
// sizes back to the system when they are freed, so every batch paid it again.
//
// The pool keeps at most kKeptBlocks idle blocks, none larger than kKeptBytes (a bigger one goes
// back to the system); a block serves a request of at least half its size. Blocks never move while an array uses them; an array holds its block until Python
// frees it. The caller writes every element of what it is handed: a block comes back with an
// earlier array's samples in it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::fx {

class ResultPool {
 public:
  static constexpr std::size_t kKeptBlocks = 2;
  static constexpr std::size_t kKeptBytes = std::size_t{256} << 20;
  // Smaller arrays come from the allocator's heap, which keeps their pages between calls: in
  // the pool they would only push out the large blocks it is for (a stream processed a block
  // per call would take a new one each time).
  static constexpr std::size_t kSmallestPooledBytes = std::size_t{1} << 20;

  // Any thread holding the GIL. A float32 array of this shape (C order), its memory the pool's
  // from kSmallestPooledBytes up: its contents are left as they are. Allocates when no kept
  // block fits.
  static pybind11::array_t<float> array(const std::vector<pybind11::ssize_t>& shape) {
    std::size_t count = 1;
    for (const pybind11::ssize_t extent : shape) count *= static_cast<std::size_t>(extent);
    if (count * sizeof(float) < kSmallestPooledBytes) return pybind11::array_t<float>(shape);
    Block* block = instance().take(count);
    const pybind11::capsule owner(block, [](void* released) {
      instance().give(static_cast<Block*>(released));
    });
    return pybind11::array_t<float>(shape, block->samples.get(), owner);
  }

 private:
  struct Block {
    std::unique_ptr<float[]> samples;
    std::size_t capacity;
  };

  static ResultPool& instance() {
    // Never destroyed: arrays may outlive the module's statics at interpreter exit.
    static ResultPool* const pool = new ResultPool();
    return *pool;
  }

  Block* take(std::size_t count) {
    {
      const std::lock_guard lock(mutex_);
      for (auto it = idle_.begin(); it != idle_.end(); ++it) {
        if ((*it)->capacity >= count && (*it)->capacity / 2 <= count) {
          Block* block = it->release();
          idle_.erase(it);
          return block;
        }
      }
    }
    // At least one element, so that an empty batch still has a block of its own.
    const std::size_t capacity = count == 0 ? 1 : count;
    return new Block{std::make_unique_for_overwrite<float[]>(capacity), capacity};
  }

  void give(Block* returned) {
    std::unique_ptr<Block> block(returned);
    if (block->capacity * sizeof(float) > kKeptBytes) return;
    const std::lock_guard lock(mutex_);
    // The most recently freed first: its pages are the likeliest to be in the caches.
    idle_.insert(idle_.begin(), std::move(block));
    if (idle_.size() > kKeptBlocks) idle_.pop_back();
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<Block>> idle_;
};

}  // namespace orvane::fx
