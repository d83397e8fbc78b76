#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <orvane/sdk/Export.hpp>
#include <orvane/sdk/Result.hpp>
#include <string>
#include <vector>

namespace orvane {

// Named events with listeners. Listeners are called on the thread that emits, outside the
// emitter's lock, so a listener may add or remove listeners. Not for the audio thread: every
// call locks and may allocate.
class ORVANE_SDK_API EventEmitter {
 public:
  using Listener = std::function<void(const std::any& payload)>;
  using ListenerId = std::uint64_t;

  EventEmitter();
  virtual ~EventEmitter();
  EventEmitter(const EventEmitter&) = delete;
  EventEmitter& operator=(const EventEmitter&) = delete;

  // Any thread; allocates. Returns an id for off().
  ListenerId on(const std::string& event, Listener listener);
  // Any thread. False when no listener has that id.
  bool off(ListenerId id);
  // Any thread but the audio thread; allocates. Returns how many listeners were called.
  std::size_t emit(const std::string& event, const std::any& payload = {});

 private:
  struct Entry {
    ListenerId id;
    std::string event;
    Listener listener;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> listeners_;
  ListenerId nextId_ = 1;
};

// Base of every scriptable host object. Values and actions are reached by name; the base knows
// none and answers every name with an Error, subclasses add theirs.
class ORVANE_SDK_API OrvaneObject : public EventEmitter {
 public:
  explicit OrvaneObject(const std::string& kind);
  ~OrvaneObject() override;

  // Any thread. The kind given at construction ("extension", "node", ...).
  const std::string& getKind() const noexcept { return kind_; }

  virtual Result<void> setValue(const std::string& name, const std::any& value);
  virtual Result<std::any> getValue(const std::string& name) const;
  virtual Result<std::any> callAction(const std::string& name,
                                      const std::map<std::string, std::any>& arguments);

 private:
  std::string kind_;
};

}  // namespace orvane
