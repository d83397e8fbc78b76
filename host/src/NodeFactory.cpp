#include <orvane/sdk/NodeFactory.hpp>
#include <stdexcept>
#include <utility>

namespace orvane {

NodeFactory::NodeFactory() = default;
NodeFactory::~NodeFactory() = default;

std::vector<NodeTypeInfo> NodeFactory::getNodeTypes() const {
  std::vector<NodeTypeInfo> types;
  types.reserve(entries_.size());
  for (const Entry& entry : entries_) types.push_back(entry.info);
  return types;
}

std::unique_ptr<Node> NodeFactory::createNode(const std::string& type,
                                              const NodeConfig& config) const {
  for (const Entry& entry : entries_) {
    if (entry.info.type == type) return std::unique_ptr<Node>(entry.creator(config));
  }
  return nullptr;
}

void NodeFactory::registerNode(const NodeTypeInfo& info, Creator creator) {
  if (!creator) throw std::invalid_argument("node type '" + info.type + "' has no creator");
  for (const Entry& entry : entries_) {
    if (entry.info.type == info.type) {
      throw std::invalid_argument("node type '" + info.type + "' is registered already");
    }
  }
  entries_.push_back(Entry{info, std::move(creator)});
}

}  // namespace orvane
