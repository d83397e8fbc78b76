#include <algorithm>
#include <orvane/sdk/OrvaneObject.hpp>
#include <utility>

namespace orvane {

EventEmitter::EventEmitter() = default;
EventEmitter::~EventEmitter() = default;

EventEmitter::ListenerId EventEmitter::on(const std::string& event, Listener listener) {
  std::lock_guard lock(mutex_);
  const ListenerId id = nextId_++;
  listeners_.push_back(Entry{id, event, std::move(listener)});
  return id;
}

bool EventEmitter::off(ListenerId id) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(listeners_.begin(), listeners_.end(),
                               [id](const Entry& entry) { return entry.id == id; });
  if (it == listeners_.end()) return false;
  listeners_.erase(it);
  return true;
}

std::size_t EventEmitter::emit(const std::string& event, const std::any& payload) {
  // Listeners run outside the lock, on a snapshot, so they may call on() and off() themselves.
  std::vector<Listener> toCall;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& entry : listeners_) {
      if (entry.event == event) toCall.push_back(entry.listener);
    }
  }
  for (const Listener& listener : toCall) listener(payload);
  return toCall.size();
}

OrvaneObject::OrvaneObject(const std::string& kind) : kind_(kind) {}
OrvaneObject::~OrvaneObject() = default;

Result<void> OrvaneObject::setValue(const std::string& name, const std::any&) {
  return makeError("this " + kind_ + " has no value named '" + name + "'");
}

Result<std::any> OrvaneObject::getValue(const std::string& name) const {
  return makeError("this " + kind_ + " has no value named '" + name + "'");
}

Result<std::any> OrvaneObject::callAction(const std::string& name,
                                          const std::map<std::string, std::any>&) {
  return makeError("this " + kind_ + " has no action named '" + name + "'");
}

}  // namespace orvane
