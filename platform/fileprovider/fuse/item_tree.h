#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/item.h"

namespace ostrel::fileprovider {

using Inode = uint64_t;
inline constexpr Inode rootInode = 1;

// Something the kernel may have cached that is no longer true: the entry
// `name` in `parent`, or (without a name) the attributes and data of `inode`.
struct Invalidation {
  Inode parent = 0;
  std::string name;
  Inode inode = 0;
};

struct Node {
  Inode inode = 0;
  ItemIdentifier identifier;
  // The service's latest description; nothing for an item only kept locally.
  ItemPtr item;
  // Where the item's own parent lists it; 0 while no cached listing of the
  // parent holds it.
  Inode parent = 0;
  std::string name;
  // Other containers whose listings hold the item (a matter in both
  // top-level lists), with the name it has there.
  std::map<Inode, std::string> aliases;
  bool directory = false;
  // `children` is the container's complete listing.
  bool listed = false;
  // The listing is to be read afresh on next use; until that succeeds (the
  // service may be unreachable), it is what shows.
  bool stale = false;
  std::map<std::string, Inode> children;
  // How many times the kernel was handed this inode and has not forgotten it.
  uint64_t lookups = 0;
  // The local store entry whose bytes the user sees instead of the service's.
  std::optional<std::string> localToken;
  int writers = 0;
  // Deleted, here or at the service, while the kernel still knew it.
  bool vanished = false;
};

bool isFolderItem(const Item& item);

// The inode table: every item the kernel knows or a cached listing holds,
// found by inode or by identifier. Not thread-safe: its owner guards it.
class ItemTree {
 public:
  explicit ItemTree(ItemPtr root);

  Node* find(Inode inode);
  Node* find(const ItemIdentifier& identifier);
  Node* child(const Node& parent, const std::string& name);

  // The node of the service item, made or brought up to date; where it sits
  // in the tree is not changed here.
  Node& upsert(ItemPtr item);
  Node& addLocal(const ItemIdentifier& identifier, const std::string& name, bool directory);
  // Gives the node a new identifier (a local item the service took); a node
  // that had it is superseded. By value: it may be that other node's own.
  void rename(Node& node, ItemIdentifier identifier);

  // Puts the node into the parent's listing under `name`, leaving the place
  // it had under its parent before. A local-only item already there keeps
  // the name: what the user wrote stays visible; a service item there moves
  // aside to a numbered name. False, and nothing changes, when the node is a
  // folder that holds the parent: the tree would become a cycle.
  bool attach(Node& node, Node& parent, const std::string& name, std::vector<Invalidation>& invalidations);
  // Adds `container` to the places that list the node; its own parent's stays.
  bool attachAlias(Node& node, Node& container, const std::string& name, std::vector<Invalidation>& invalidations);
  // Lists a service item in the container, as its parent's child or as an
  // alias, under the name its filename gives there (see entry_names.h):
  // items that would share a name get numbered ones, and a name an item
  // already shows under stays while it still fits. False for a cycle.
  bool place(Node& node, Node& container, std::vector<Invalidation>& invalidations);
  // Takes the node out of its parent's listing; the aliases stay.
  void detach(Node& node, std::vector<Invalidation>& invalidations);
  // Takes the node out of `container`, whether as its parent or an alias.
  void removeFrom(Node& node, Node& container, std::vector<Invalidation>& invalidations);
  // Takes the node out of every listing.
  void detachEverywhere(Node& node, std::vector<Invalidation>& invalidations);
  // Replaces the container's listing. Items whose parent is another
  // container are listed here as aliases. Answers how many items were
  // refused: the container itself, or a folder that holds it.
  size_t install(Node& container, const std::vector<ItemPtr>& items, std::vector<Invalidation>& invalidations);
  // Marks the container's listing and every listing below it stale; the
  // kernel is told to look their entries up again.
  void markStale(Node& container, std::vector<Invalidation>& invalidations);
  // Forgets the container's listing, and with `recursive` those below it.
  void dropListing(Node& container, bool recursive, std::vector<Invalidation>& invalidations,
                   std::vector<ItemIdentifier>* dropped = nullptr);

  // Whether `container` is the node or lies below it, through parents or aliases.
  bool encloses(const Node& node, const Node& container);

  void remember(Node& node) { ++node.lookups; }
  void forget(Inode inode, uint64_t count);
  // Removes a node nobody refers to any more, and what only it held.
  void collect(Node& node);

 private:
  // The name the service item shows under in the container.
  std::string nameIn(const Node& node, const Node& container);
  // The name the node has in the container, if it is listed there.
  std::optional<std::string> currentName(const Node& node, const Node& container);
  // Clears `name` in the container for the node; false when a local-only
  // item holds it and the node is the service's. A service item that has to
  // make room for a local one is returned in `displaced`.
  bool makeRoom(Node& node, Node& container, const std::string& name, std::vector<Invalidation>& invalidations,
                Node*& displaced);

  std::map<Inode, std::unique_ptr<Node>> nodes_;
  std::map<ItemIdentifier, Inode> byIdentifier_;
  Inode nextInode_ = rootInode + 1;
};

}  // namespace ostrel::fileprovider
