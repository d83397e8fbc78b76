#include <algorithm>
#include <orvane/sdk/Extension.hpp>
#include <utility>

namespace orvane {

Extension::Extension() : OrvaneObject("extension") {}
Extension::~Extension() = default;

Result<void> Extension::initialize(const std::map<std::string, std::any>&) { return makeSuccess(); }
Result<void> Extension::deinitialize() { return makeSuccess(); }

ExtensionManager::ExtensionManager() = default;
ExtensionManager::~ExtensionManager() = default;

ExtensionManager& ExtensionManager::getInstance() {
  // Never destroyed: extensions may be looked up from other static destructors at exit, and
  // their code may live in libraries that are unloaded before this one.
  static ExtensionManager* const instance = new ExtensionManager();
  return *instance;
}

void ExtensionManager::registerExtension(std::shared_ptr<Extension> extension) {
  if (!extension) return;
  std::string name = extension->getName();
  std::lock_guard lock(mutex_);
  entries_.push_back(Entry{std::move(name), std::move(extension)});
}

std::shared_ptr<Extension> ExtensionManager::getExtension(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const Entry& entry : entries_) {
    if (entry.name == name) return entry.extension;
  }
  return nullptr;
}

std::vector<std::shared_ptr<Extension>> ExtensionManager::getExtensions() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Extension>> extensions;
  extensions.reserve(entries_.size());
  for (const Entry& entry : entries_) extensions.push_back(entry.extension);
  return extensions;
}

std::size_t ExtensionManager::unregisterExtension(const std::string& name) {
  std::vector<std::shared_ptr<Extension>> dropped;  // released outside the lock
  std::lock_guard lock(mutex_);
  const auto removed = std::stable_partition(entries_.begin(), entries_.end(),
                                             [&](const Entry& e) { return e.name != name; });
  for (auto it = removed; it != entries_.end(); ++it) dropped.push_back(std::move(it->extension));
  entries_.erase(removed, entries_.end());
  return dropped.size();
}

}  // namespace orvane
