#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <orvane/sdk/Export.hpp>
#include <orvane/sdk/Node.hpp>
#include <string>
#include <vector>

namespace orvane {

using NodeConfig = std::map<std::string, std::any>;

// The catalogue record of one node type.
struct NodeTypeInfo {
  std::string prefix;
  std::string type;
  std::string displayName;
  std::string description;
  std::vector<std::string> categories;
  std::map<std::string, std::any> properties;
};

// Knows a fixed set of node types and creates nodes of them. The set is registered by the
// concrete factory's constructor and never changes afterwards, so a factory may be used from
// several threads at once.
class ORVANE_SDK_API NodeFactory {
 public:
  // Returns a new node that the caller owns, or nullptr.
  using Creator = std::function<Node*(const NodeConfig& config)>;

  NodeFactory();
  virtual ~NodeFactory();
  NodeFactory(const NodeFactory&) = delete;
  NodeFactory& operator=(const NodeFactory&) = delete;

  // Any thread.
  virtual std::string getNodeTypePrefix() const = 0;
  // Any thread; allocates. The catalogue records, in the order they were registered.
  virtual std::vector<NodeTypeInfo> getNodeTypes() const;
  // Any thread; allocates. A new node of the bare type ("Delay"), owned by the caller; nullptr
  // when the type is unknown. Whatever the creator throws passes to the caller.
  virtual std::unique_ptr<Node> createNode(const std::string& type,
                                           const NodeConfig& config = {}) const;

 protected:
  // Constructor only; allocates. A type registered twice, or an empty creator, is a programming
  // mistake and throws std::invalid_argument.
  void registerNode(const NodeTypeInfo& info, Creator creator);

 private:
  struct Entry {
    NodeTypeInfo info;
    Creator creator;
  };
  std::vector<Entry> entries_;
};

}  // namespace orvane
