#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/item.h"

namespace ostrel::fileprovider {

// What the user wrote that the service has not taken yet, on disk under the
// domain's local-only directory: `<token>` holds the bytes, `<token>.json`
// what they belong to. Entries outlive the mount. Not thread-safe: its owner
// guards it.
class LocalStore {
 public:
  struct Entry {
    enum class Kind { created, edited };
    // `pending`: being written or sent; `awaitingContents`: the service waits
    // for bytes; `waiting`: the service could not be reached, or the daemon
    // stopped before the send ended, so it is sent again; `kept`: the service
    // refused it or the write failed.
    enum class State { pending, awaitingContents, waiting, kept };

    std::string token;
    Kind kind = Kind::created;
    // A created item's own name ("local:<token>") or the edited item's.
    ItemIdentifier identifier;
    ItemIdentifier parent;
    std::string name;
    bool directory = false;
    // The version an edit started from.
    ItemVersion baseVersion;
    State state = State::pending;
    // Bumped by every write, so that a send can tell whether it sent the latest bytes.
    uint64_t generation = 0;
    // The generation last sent, and whether a send is under way.
    uint64_t sentGeneration = 0;
    bool sending = false;
    // Entries are sent again in the order they were made.
    uint64_t order = 0;
  };

  explicit LocalStore(std::filesystem::path directory);

  static bool isLocalIdentifier(const ItemIdentifier& identifier);
  // The state as the record writes it.
  static const char* stateName(Entry::State state);

  Entry& addCreated(const ItemIdentifier& parent, const std::string& name, bool directory);
  Entry& addEdited(const ItemIdentifier& identifier, const ItemIdentifier& parent, const std::string& name,
                   ItemVersion baseVersion);
  Entry* find(const std::string& token);
  Entry* findByIdentifier(const ItemIdentifier& identifier);
  // Items created locally in that container.
  std::vector<Entry*> createdIn(const ItemIdentifier& parent);
  // Whether anything kept here (created or edited) belongs in that container.
  bool holdsAnythingIn(const ItemIdentifier& parent) const;
  std::vector<Entry*> all();

  std::filesystem::path bytes(const Entry& entry) const { return directory_ / entry.token; }
  // Writes the record after a change to the entry.
  void save(const Entry& entry);
  void remove(const std::string& token);

 private:
  Entry& add(Entry entry);

  std::filesystem::path directory_;
  std::map<std::string, Entry> entries_;
  uint64_t nextOrder_ = 1;
};

}  // namespace ostrel::fileprovider
