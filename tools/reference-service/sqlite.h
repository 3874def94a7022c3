#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tools/reference-service/result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ostrel::refsvc {

// One prepared statement. Bind errors are kept and reported by the next step.
class Statement {
 public:
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Parameters count from 1, as SQLite numbers them.
  void bind(int index, std::string_view text);
  void bind(int index, const std::string& text) { bind(index, std::string_view(text)); }
  void bind(int index, const char* text) { bind(index, std::string_view(text)); }
  template <std::integral T>
  void bind(int index, T value) {
    bindInteger(index, static_cast<int64_t>(value));
  }
  void bind(int index, std::nullopt_t);
  template <class T>
  void bind(int index, const std::optional<T>& value) {
    if (value) {
      bind(index, *value);
    } else {
      bind(index, std::nullopt);
    }
  }

  // True when a row is ready to be read, false when the statement is done.
  Result<bool> step();
  Result<void> run();

  int64_t integer(int column) const;
  std::string text(int column) const;
  std::optional<int64_t> optionalInteger(int column) const;
  std::optional<std::string> optionalText(int column) const;

 private:
  friend class Database;
  Statement(sqlite3_stmt* handle, sqlite3* db) : handle_(handle), db_(db) {}
  void bindInteger(int index, int64_t value);
  void check(int code);

  sqlite3_stmt* handle_ = nullptr;
  sqlite3* db_ = nullptr;
  int bindError_ = 0;
};

// One connection. The store serialises every use of it.
class Database {
 public:
  static Result<Database> open(const std::filesystem::path& file);
  Database(Database&& other) noexcept;
  Database& operator=(Database&& other) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  Result<Statement> prepare(std::string_view sql) const;
  // Runs a script of statements that take no parameters.
  Result<void> script(const char* sql) const;

  template <class... A>
  Result<Statement> query(std::string_view sql, const A&... args) const {
    auto statement = prepare(sql);
    if (!statement) return statement;
    int index = 1;
    (statement->bind(index++, args), ...);
    return statement;
  }

  template <class... A>
  Result<void> run(std::string_view sql, const A&... args) const {
    auto statement = query(sql, args...);
    if (!statement) return std::unexpected(statement.error());
    return statement->run();
  }

  // The first column of the first row, or nothing when there is no row or it is NULL.
  template <class... A>
  Result<std::optional<int64_t>> integer(std::string_view sql, const A&... args) const {
    auto statement = query(sql, args...);
    if (!statement) return std::unexpected(statement.error());
    auto row = statement->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return std::optional<int64_t>();
    return statement->optionalInteger(0);
  }

  template <class... A>
  Result<std::optional<std::string>> text(std::string_view sql, const A&... args) const {
    auto statement = query(sql, args...);
    if (!statement) return std::unexpected(statement.error());
    auto row = statement->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return std::optional<std::string>();
    return statement->optionalText(0);
  }

  // Rows changed by the last statement.
  int64_t changes() const;

 private:
  explicit Database(sqlite3* handle) : handle_(handle) {}
  sqlite3* handle_ = nullptr;
};

}  // namespace ostrel::refsvc
