#include "platform/fileprovider/fuse/local_store.h"

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider {

namespace {

constexpr std::string_view localPrefix = "local:";

std::string newToken() {
  static std::mt19937_64 generator{std::random_device{}()};
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
  return text;
}

const char* kindName(LocalStore::Entry::Kind kind) {
  return kind == LocalStore::Entry::Kind::created ? "created" : "edited";
}

std::optional<LocalStore::Entry> readRecord(const std::filesystem::path& file, const std::string& token) {
  std::ifstream in(file);
  auto json = nlohmann::json::parse(in, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  try {
    LocalStore::Entry entry;
    entry.token = token;
    entry.kind = json.at("kind") == "edited" ? LocalStore::Entry::Kind::edited : LocalStore::Entry::Kind::created;
    entry.identifier.rawValue = json.at("identifier").get<std::string>();
    entry.parent.rawValue = json.at("parent").get<std::string>();
    entry.name = json.at("name").get<std::string>();
    entry.directory = json.value("directory", false);
    entry.baseVersion.contentVersion = json.value("baseContentVersion", "");
    entry.baseVersion.metadataVersion = json.value("baseMetadataVersion", "");
    const std::string state = json.value("state", "kept");
    // A send the daemon did not see end is made again.
    if (state == "awaitingContents") {
      entry.state = LocalStore::Entry::State::awaitingContents;
    } else if (state == "waiting" || state == "pending") {
      entry.state = LocalStore::Entry::State::waiting;
    } else {
      entry.state = LocalStore::Entry::State::kept;
    }
    entry.order = json.value("order", uint64_t{0});
    // Not sent in this run.
    entry.generation = 1;
    return entry;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

LocalStore::LocalStore(std::filesystem::path directory) : directory_(std::move(directory)) {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  for (const auto& file : std::filesystem::directory_iterator(directory_, error)) {
    if (file.path().extension() != ".json") continue;
    const std::string token = file.path().stem().string();
    if (auto entry = readRecord(file.path(), token)) {
      nextOrder_ = std::max(nextOrder_, entry->order + 1);
      entries_.emplace(token, std::move(*entry));
    }
  }
}

const char* LocalStore::stateName(Entry::State state) {
  switch (state) {
    case LocalStore::Entry::State::pending:
      return "pending";
    case LocalStore::Entry::State::awaitingContents:
      return "awaitingContents";
    case LocalStore::Entry::State::waiting:
      return "waiting";
    case LocalStore::Entry::State::kept:
      return "kept";
  }
  return "kept";
}

bool LocalStore::isLocalIdentifier(const ItemIdentifier& identifier) {
  return identifier.rawValue.starts_with(localPrefix);
}

LocalStore::Entry& LocalStore::addCreated(const ItemIdentifier& parent, const std::string& name, bool directory) {
  Entry entry;
  entry.token = newToken();
  entry.identifier.rawValue = std::string(localPrefix) + entry.token;
  entry.parent = parent;
  entry.name = name;
  entry.directory = directory;
  auto& stored = add(std::move(entry));
  if (!directory) UniqueFd(::open(bytes(stored).c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600));
  save(stored);
  return stored;
}

LocalStore::Entry& LocalStore::addEdited(const ItemIdentifier& identifier, const ItemIdentifier& parent,
                                         const std::string& name, ItemVersion baseVersion) {
  Entry entry;
  entry.token = newToken();
  entry.kind = Entry::Kind::edited;
  entry.identifier = identifier;
  entry.parent = parent;
  entry.name = name;
  entry.baseVersion = std::move(baseVersion);
  auto& stored = add(std::move(entry));
  save(stored);
  return stored;
}

LocalStore::Entry& LocalStore::add(Entry entry) {
  entry.order = nextOrder_++;
  return entries_.emplace(entry.token, std::move(entry)).first->second;
}

LocalStore::Entry* LocalStore::find(const std::string& token) {
  auto found = entries_.find(token);
  return found == entries_.end() ? nullptr : &found->second;
}

LocalStore::Entry* LocalStore::findByIdentifier(const ItemIdentifier& identifier) {
  for (auto& [token, entry] : entries_)
    if (entry.identifier == identifier) return &entry;
  return nullptr;
}

std::vector<LocalStore::Entry*> LocalStore::createdIn(const ItemIdentifier& parent) {
  std::vector<Entry*> found;
  for (auto& [token, entry] : entries_)
    if (entry.kind == Entry::Kind::created && entry.parent == parent) found.push_back(&entry);
  return found;
}

bool LocalStore::holdsAnythingIn(const ItemIdentifier& parent) const {
  return std::ranges::any_of(entries_, [&](const auto& stored) { return stored.second.parent == parent; });
}

std::vector<LocalStore::Entry*> LocalStore::all() {
  std::vector<Entry*> found;
  for (auto& [token, entry] : entries_) found.push_back(&entry);
  return found;
}

void LocalStore::save(const Entry& entry) {
  nlohmann::json json = {
      {"kind", kindName(entry.kind)},
      {"identifier", entry.identifier.rawValue},
      {"parent", entry.parent.rawValue},
      {"name", entry.name},
      {"directory", entry.directory},
      {"baseContentVersion", entry.baseVersion.contentVersion},
      {"baseMetadataVersion", entry.baseVersion.metadataVersion},
      {"state", stateName(entry.state)},
      {"order", entry.order},
  };
  // Written beside and renamed, so that a crash leaves the old record or the new one.
  const auto record = directory_ / (entry.token + ".json");
  const auto partial = directory_ / (entry.token + ".json.partial");
  {
    std::ofstream out(partial, std::ios::trunc);
    out << json.dump();
  }
  std::error_code ignored;
  std::filesystem::rename(partial, record, ignored);
}

void LocalStore::remove(const std::string& token) {
  std::error_code ignored;
  std::filesystem::remove(directory_ / token, ignored);
  std::filesystem::remove(directory_ / (token + ".json"), ignored);
  entries_.erase(token);
}

}  // namespace ostrel::fileprovider
