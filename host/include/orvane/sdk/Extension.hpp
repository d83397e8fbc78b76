#pragma once

#include <any>
#include <map>
#include <memory>
#include <mutex>
#include <orvane/sdk/Export.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <orvane/sdk/OrvaneObject.hpp>
#include <orvane/sdk/Result.hpp>
#include <string>
#include <vector>

namespace orvane {

// A bundle of node types that a library adds to the host. Its kind is "extension".
class ORVANE_SDK_API Extension : public OrvaneObject {
 public:
  Extension();
  ~Extension() override;

  // Any thread. Both do nothing and succeed unless an extension needs them.
  virtual Result<void> initialize(const std::map<std::string, std::any>& config);
  virtual Result<void> deinitialize();

  // Any thread.
  virtual std::string getName() const = 0;
  // Any thread; allocates.
  virtual std::shared_ptr<NodeFactory> getNodeFactory() = 0;
};

// The process-wide list of registered extensions. It lives in the host library, so every binary
// and library of the process that links the host shares this one instance. All calls are safe
// from any thread (they lock; none belongs on the audio thread).
class ORVANE_SDK_API ExtensionManager {
 public:
  static ExtensionManager& getInstance();

  ExtensionManager(const ExtensionManager&) = delete;
  ExtensionManager& operator=(const ExtensionManager&) = delete;

  // Allocates. Keeps the extension until it is unregistered or the process ends. Extensions are
  // kept in registration order; registering one name twice keeps both. A null pointer is
  // ignored. The manager does not call initialize(): that is the application's to do.
  void registerExtension(std::shared_ptr<Extension> extension);
  // The earliest registered extension with that name, or nullptr.
  std::shared_ptr<Extension> getExtension(const std::string& name) const;
  // All extensions, in registration order.
  std::vector<std::shared_ptr<Extension>> getExtensions() const;
  // Drops every extension with that name; returns how many were dropped.
  std::size_t unregisterExtension(const std::string& name);

 private:
  ExtensionManager();
  ~ExtensionManager();

  struct Entry {
    std::string name;
    std::shared_ptr<Extension> extension;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace orvane
