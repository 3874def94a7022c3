#include "platform/fileprovider/fuse/item_tree.h"

#include <algorithm>
#include <set>

#include "platform/fileprovider/entry_names.h"

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

bool ItemTree::encloses(const Node& node, const Node& container) {
  if (&node == &container) return true;
  // Whatever lies below a node is in its listing.
  if (!node.directory || node.children.empty()) return false;
  std::vector<const Node*> pending{&container};
  std::set<Inode> seen;
  while (!pending.empty()) {
    const Node* at = pending.back();
    pending.pop_back();
    if (at == &node) return true;
    if (at->inode == rootInode || !seen.insert(at->inode).second) continue;
    if (const Node* up = at->parent ? find(at->parent) : nullptr) pending.push_back(up);
    for (const auto& [inode, name] : at->aliases) {
      if (const Node* up = find(inode)) pending.push_back(up);
    }
  }
  return false;
}

std::optional<std::string> ItemTree::currentName(const Node& node, const Node& container) {
  std::optional<std::string> name;
  if (node.parent == container.inode) {
    name = node.name;
  } else if (auto alias = node.aliases.find(container.inode); alias != node.aliases.end()) {
    name = alias->second;
  }
  if (name && child(container, *name) != &node) name.reset();
  return name;
}

std::string ItemTree::nameIn(const Node& node, const Node& container) {
  const std::string wanted = safeEntryName(node.item ? node.item->filename() : node.name);
  if (auto current = currentName(node, container); current && isNumberedFormOf(*current, wanted)) return *current;
  for (unsigned n = 1;; ++n) {
    std::string candidate = n == 1 ? wanted : numberedEntryName(wanted, n);
    const Node* occupant = child(container, candidate);
    if (!occupant || occupant == &node) return candidate;
  }
}

bool ItemTree::makeRoom(Node& node, Node& container, const std::string& name,
                        std::vector<Invalidation>& invalidations, Node*& displaced) {
  Node* occupant = child(container, name);
  if (!occupant || occupant == &node) return true;
  if (!occupant->item && node.item) return false;
  removeFrom(*occupant, container, invalidations);
  if (occupant->item && !node.item) displaced = occupant;
  return true;
}

bool ItemTree::attach(Node& node, Node& parent, const std::string& name, std::vector<Invalidation>& invalidations) {
  if (node.parent == parent.inode && node.name == name && child(parent, name) == &node) return true;
  if (encloses(node, parent)) return false;
  Node* displaced = nullptr;
  if (!makeRoom(node, parent, name, invalidations, displaced)) {
    detach(node, invalidations);
    return true;
  }
  detach(node, invalidations);
  if (node.aliases.contains(parent.inode)) removeFrom(node, parent, invalidations);
  node.parent = parent.inode;
  node.name = name;
  parent.children[name] = node.inode;
  invalidations.push_back({parent.inode, name, 0});
  if (displaced) place(*displaced, parent, invalidations);
  return true;
}

bool ItemTree::attachAlias(Node& node, Node& container, const std::string& name,
                           std::vector<Invalidation>& invalidations) {
  if (node.parent == container.inode) return attach(node, container, name, invalidations);
  if (auto found = node.aliases.find(container.inode);
      found != node.aliases.end() && found->second == name && child(container, name) == &node)
    return true;
  if (encloses(node, container)) return false;
  Node* displaced = nullptr;
  if (!makeRoom(node, container, name, invalidations, displaced)) return true;
  removeFrom(node, container, invalidations);
  node.aliases[container.inode] = name;
  container.children[name] = node.inode;
  invalidations.push_back({container.inode, name, 0});
  if (displaced) place(*displaced, container, invalidations);
  return true;
}

bool ItemTree::place(Node& node, Node& container, std::vector<Invalidation>& invalidations) {
  const std::string name = nameIn(node, container);
  if (node.item && node.item->parentItemIdentifier() == container.identifier)
    return attach(node, container, name, invalidations);
  return attachAlias(node, container, name, invalidations);
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

size_t ItemTree::install(Node& container, const std::vector<ItemPtr>& items,
                         std::vector<Invalidation>& invalidations) {
  size_t refused = 0;
  std::vector<Node*> listed;
  std::set<Inode> inListing;
  for (const auto& item : items) {
    if (!item || item->itemIdentifier() == rootContainerItemIdentifier) continue;
    if (item->itemIdentifier() == container.identifier) {
      ++refused;
      continue;
    }
    Node& node = upsert(item);
    if (inListing.insert(node.inode).second) listed.push_back(&node);
  }
  // Service items that are gone from the listing; local-only items stay.
  std::vector<Inode> gone;
  for (const auto& [name, inode] : container.children) {
    Node* node = find(inode);
    if (node && node->item && !inListing.contains(inode)) gone.push_back(inode);
  }
  for (Inode inode : gone) {
    Node* node = find(inode);
    removeFrom(*node, container, invalidations);
    collect(*node);
  }
  // Names that still fit stay; then plain names go before numbered ones, in
  // the order of identifiers, so that the same listing gives the same names.
  std::vector<Node*> unplaced;
  for (Node* node : listed) {
    auto current = currentName(*node, container);
    if (current && isNumberedFormOf(*current, safeEntryName(node->item->filename()))) {
      if (!place(*node, container, invalidations)) ++refused;
    } else {
      if (current) removeFrom(*node, container, invalidations);
      unplaced.push_back(node);
    }
  }
  std::ranges::sort(unplaced, [](const Node* a, const Node* b) { return a->identifier < b->identifier; });
  std::vector<Node*> numbered;
  for (Node* node : unplaced) {
    if (child(container, safeEntryName(node->item->filename()))) {
      numbered.push_back(node);
    } else if (!place(*node, container, invalidations)) {
      ++refused;
    }
  }
  for (Node* node : numbered) {
    if (!place(*node, container, invalidations)) ++refused;
  }
  container.listed = true;
  container.stale = false;
  return refused;
}

void ItemTree::markStale(Node& container, std::vector<Invalidation>& invalidations) {
  std::vector<Inode> pending{container.inode};
  std::set<Inode> seen{container.inode};
  while (!pending.empty()) {
    Node* node = find(pending.back());
    pending.pop_back();
    if (!node || !node->listed) continue;
    if (node->item) node->stale = true;
    for (const auto& [name, inode] : node->children) {
      invalidations.push_back({node->inode, name, 0});
      if (const Node* child = find(inode); child && child->directory && seen.insert(inode).second)
        pending.push_back(inode);
    }
  }
}

void ItemTree::dropListing(Node& container, bool recursive, std::vector<Invalidation>& invalidations,
                           std::vector<ItemIdentifier>* dropped) {
  // The containers to drop, those below first; a tree the service made
  // into a cycle is walked once.
  std::vector<Inode> containers{container.inode};
  if (recursive) {
    std::set<Inode> seen{container.inode};
    for (size_t at = 0; at < containers.size(); ++at) {
      const Node* node = find(containers[at]);
      if (!node) continue;
      for (const auto& [name, inode] : node->children) {
        const Node* child = find(inode);
        if (child && child->directory && seen.insert(inode).second) containers.push_back(inode);
      }
    }
  }
  for (auto at = containers.rbegin(); at != containers.rend(); ++at) {
    Node* dropping = find(*at);
    if (!dropping) continue;
    std::vector<Inode> children;
    for (const auto& [name, inode] : dropping->children) children.push_back(inode);
    for (Inode inode : children) {
      Node* node = find(inode);
      if (!node) continue;
      if (dropped) dropped->push_back(node->identifier);
      // Local-only items have no service listing to come back from.
      if (!node->item) continue;
      removeFrom(*node, *dropping, invalidations);
      collect(*node);
    }
    if (dropping->item) dropping->listed = false;
  }
}

void ItemTree::forget(Inode inode, uint64_t count) {
  Node* node = find(inode);
  if (!node) return;
  node->lookups = count >= node->lookups ? 0 : node->lookups - count;
  collect(*node);
}

void ItemTree::collect(Node& start) {
  std::vector<Inode> pending{start.inode};
  while (!pending.empty()) {
    Node* node = find(pending.back());
    pending.pop_back();
    if (!node || node->inode == rootInode || node->lookups > 0 || node->parent != 0 || !node->aliases.empty() ||
        node->writers > 0 || node->localToken)
      continue;
    for (const auto& [name, inode] : node->children) {
      Node* child = find(inode);
      if (!child) continue;
      if (child->parent == node->inode) {
        child->parent = 0;
      } else {
        child->aliases.erase(node->inode);
      }
      pending.push_back(inode);
    }
    byIdentifier_.erase(node->identifier);
    nodes_.erase(node->inode);
  }
}

}  // namespace ostrel::fileprovider
