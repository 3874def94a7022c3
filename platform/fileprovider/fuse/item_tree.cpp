#include "platform/fileprovider/fuse/item_tree.h"

#include <set>

#include "platform/foundation/uniform_type.h"

namespace ostrel::fileprovider {

bool isFolderItem(const Item& item) {
  auto type = item.contentType();
  return type && UTType::conforms(*type, UTType::directory);
}

ItemTree::ItemTree(ItemPtr root) {
  auto node = std::make_unique<Node>();
  node->inode = rootInode;
  node->identifier = rootContainerItemIdentifier;
  node->item = std::move(root);
  node->directory = true;
  node->parent = rootInode;
  byIdentifier_.emplace(node->identifier, rootInode);
  nodes_.emplace(rootInode, std::move(node));
}

Node* ItemTree::find(Inode inode) {
  auto found = nodes_.find(inode);
  return found == nodes_.end() ? nullptr : found->second.get();
}

Node* ItemTree::find(const ItemIdentifier& identifier) {
  auto found = byIdentifier_.find(identifier);
  return found == byIdentifier_.end() ? nullptr : find(found->second);
}

Node* ItemTree::child(const Node& parent, const std::string& name) {
  auto found = parent.children.find(name);
  return found == parent.children.end() ? nullptr : find(found->second);
}

Node& ItemTree::upsert(ItemPtr item) {
  const ItemIdentifier identifier = item->itemIdentifier();
  Node* node = find(identifier);
  if (!node) {
    auto made = std::make_unique<Node>();
    made->inode = nextInode_++;
    made->identifier = identifier;
    made->name = item->filename();
    node = made.get();
    byIdentifier_.emplace(identifier, node->inode);
    nodes_.emplace(node->inode, std::move(made));
  }
  node->directory = node->inode == rootInode || isFolderItem(*item);
  node->item = std::move(item);
  return *node;
}

Node& ItemTree::addLocal(const ItemIdentifier& identifier, const std::string& name, bool directory) {
  if (Node* existing = find(identifier)) return *existing;
  auto made = std::make_unique<Node>();
  made->inode = nextInode_++;
  made->identifier = identifier;
  made->name = name;
  made->directory = directory;
  // Nothing of a local folder lives at the service: its listing is what is here.
  made->listed = directory;
  Node& node = *made;
  byIdentifier_.emplace(identifier, node.inode);
  nodes_.emplace(node.inode, std::move(made));
  return node;
}

void ItemTree::rename(Node& node, ItemIdentifier identifier) {
  std::vector<Invalidation> ignored;
  // The service's view of the item may have arrived first, as a node of its own.
  if (Node* other = find(identifier); other && other != &node) {
    detachEverywhere(*other, ignored);
    byIdentifier_.erase(identifier);
    other->identifier = ItemIdentifier{"superseded:" + std::to_string(other->inode)};
    byIdentifier_.emplace(other->identifier, other->inode);
    collect(*other);
  }
  byIdentifier_.erase(node.identifier);
  node.identifier = identifier;
  byIdentifier_[identifier] = node.inode;
}

bool ItemTree::makeRoom(Node& node, Node& container, const std::string& name,
                        std::vector<Invalidation>& invalidations) {
  Node* occupant = child(container, name);
  if (!occupant || occupant == &node) return true;
  if (!occupant->item && node.item) return false;
  removeFrom(*occupant, container, invalidations);
  return true;
}

void ItemTree::attach(Node& node, Node& parent, const std::string& name, std::vector<Invalidation>& invalidations) {
  if (node.parent == parent.inode && node.name == name && child(parent, name) == &node) return;
  if (!makeRoom(node, parent, name, invalidations)) {
    detach(node, invalidations);
    return;
  }
  detach(node, invalidations);
  if (node.aliases.contains(parent.inode)) removeFrom(node, parent, invalidations);
  node.parent = parent.inode;
  node.name = name;
  parent.children[name] = node.inode;
  invalidations.push_back({parent.inode, name, 0});
}

void ItemTree::attachAlias(Node& node, Node& container, const std::string& name,
                           std::vector<Invalidation>& invalidations) {
  if (node.parent == container.inode) {
    attach(node, container, name, invalidations);
    return;
  }
  if (auto found = node.aliases.find(container.inode);
      found != node.aliases.end() && found->second == name && child(container, name) == &node)
    return;
  if (!makeRoom(node, container, name, invalidations)) return;
  removeFrom(node, container, invalidations);
  node.aliases[container.inode] = name;
  container.children[name] = node.inode;
  invalidations.push_back({container.inode, name, 0});
}

void ItemTree::removeFrom(Node& node, Node& container, std::vector<Invalidation>& invalidations) {
  if (node.parent == container.inode && node.inode != rootInode) {
    detach(node, invalidations);
    return;
  }
  auto alias = node.aliases.find(container.inode);
  if (alias == node.aliases.end()) return;
  if (auto found = container.children.find(alias->second);
      found != container.children.end() && found->second == node.inode) {
    container.children.erase(found);
    invalidations.push_back({container.inode, alias->second, 0});
  }
  node.aliases.erase(alias);
}

void ItemTree::detach(Node& node, std::vector<Invalidation>& invalidations) {
  if (node.inode == rootInode || node.parent == 0) return;
  if (Node* parent = find(node.parent)) {
    auto found = parent->children.find(node.name);
    if (found != parent->children.end() && found->second == node.inode) {
      parent->children.erase(found);
      invalidations.push_back({parent->inode, node.name, 0});
    }
  }
  node.parent = 0;
}

void ItemTree::detachEverywhere(Node& node, std::vector<Invalidation>& invalidations) {
  detach(node, invalidations);
  while (!node.aliases.empty()) {
    Node* container = find(node.aliases.begin()->first);
    if (!container) {
      node.aliases.erase(node.aliases.begin());
      continue;
    }
    removeFrom(node, *container, invalidations);
  }
}

void ItemTree::install(Node& container, const std::vector<ItemPtr>& items, std::vector<Invalidation>& invalidations) {
  std::set<Inode> listed;
  for (const auto& item : items) {
    if (!item || item->itemIdentifier() == rootContainerItemIdentifier) continue;
    Node& node = upsert(item);
    if (item->parentItemIdentifier() == container.identifier) {
      attach(node, container, item->filename(), invalidations);
    } else {
      attachAlias(node, container, item->filename(), invalidations);
    }
    listed.insert(node.inode);
  }
  // Service items that are gone from the listing; local-only items stay.
  std::vector<Inode> gone;
  for (const auto& [name, inode] : container.children) {
    Node* node = find(inode);
    if (node && node->item && !listed.contains(inode)) gone.push_back(inode);
  }
  for (Inode inode : gone) {
    Node* node = find(inode);
    removeFrom(*node, container, invalidations);
    collect(*node);
  }
  container.listed = true;
}

void ItemTree::dropListing(Node& container, bool recursive, std::vector<Invalidation>& invalidations,
                           std::vector<ItemIdentifier>* dropped) {
  std::vector<Inode> children;
  for (const auto& [name, inode] : container.children) children.push_back(inode);
  for (Inode inode : children) {
    Node* node = find(inode);
    if (!node) continue;
    if (dropped) dropped->push_back(node->identifier);
    if (recursive && node->directory) dropListing(*node, true, invalidations, dropped);
    // Local-only items have no service listing to come back from.
    if (!node->item) continue;
    removeFrom(*node, container, invalidations);
    collect(*node);
  }
  if (container.item) container.listed = false;
}

void ItemTree::forget(Inode inode, uint64_t count) {
  Node* node = find(inode);
  if (!node) return;
  node->lookups = count >= node->lookups ? 0 : node->lookups - count;
  collect(*node);
}

void ItemTree::collect(Node& node) {
  if (node.inode == rootInode || node.lookups > 0 || node.parent != 0 || !node.aliases.empty() || node.writers > 0 ||
      node.localToken)
    return;
  for (const auto& [name, inode] : node.children) {
    Node* child = find(inode);
    if (!child) continue;
    if (child->parent == node.inode) {
      child->parent = 0;
    } else {
      child->aliases.erase(node.inode);
    }
  }
  std::vector<Inode> orphans;
  for (const auto& [name, inode] : node.children) orphans.push_back(inode);
  byIdentifier_.erase(node.identifier);
  nodes_.erase(node.inode);
  for (Inode inode : orphans) {
    if (Node* child = find(inode)) collect(*child);
  }
}

}  // namespace ostrel::fileprovider
