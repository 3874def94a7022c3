#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "tools/reference-service/sqlite.h"

namespace ostrel::refsvc {

// The service's state in one SQLite file. Every use of the connection goes
// through read() or write(), which hold the store's lock for the database
// work only; bodies are never transferred under it.
class Store {
 public:
  static Result<std::unique_ptr<Store>> open(const std::filesystem::path& file);

  // Runs `work(const Database&)`, which returns a Result.
  template <class F>
  auto read(F&& work) {
    std::lock_guard lock(mutex_);
    return work(static_cast<const Database&>(db_));
  }

  // Runs `work(Database&)` in one transaction: committed when it returns a
  // value, rolled back when it returns an error.
  template <class F>
  auto write(F&& work) -> std::invoke_result_t<F, Database&> {
    std::lock_guard lock(mutex_);
    if (auto begun = db_.script("BEGIN IMMEDIATE"); !begun) return std::unexpected(begun.error());
    auto result = work(db_);
    if (!result) {
      (void)db_.script("ROLLBACK");
      return result;
    }
    if (auto committed = db_.script("COMMIT"); !committed) {
      (void)db_.script("ROLLBACK");
      return std::unexpected(committed.error());
    }
    return result;
  }

 private:
  explicit Store(Database db) : db_(std::move(db)) {}
  std::mutex mutex_;
  Database db_;
};

// Small settings kept beside the data (store id, change-log horizon, drive switch).
Result<std::optional<std::string>> metaValue(const Database& db, std::string_view key);
Result<void> setMetaValue(Database& db, std::string_view key, std::string_view value);
// The next number of an identifier kind ("folder", "doc", ...), starting at 1.
Result<int64_t> nextSerial(Database& db, std::string_view kind);

}  // namespace ostrel::refsvc
