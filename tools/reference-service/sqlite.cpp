#include "tools/reference-service/sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace ostrel::refsvc {

namespace {

std::unexpected<ApiError> failure(sqlite3* db, int code) {
  std::string message = sqlite3_errstr(code);
  if (db) message += std::string(": ") + sqlite3_errmsg(db);
  return storageFailure(std::move(message));
}

}  // namespace

Statement::Statement(Statement&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), db_(other.db_), bindError_(other.bindError_) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    db_ = other.db_;
    bindError_ = other.bindError_;
  }
  return *this;
}

Statement::~Statement() {
  sqlite3_finalize(handle_);
}

void Statement::check(int code) {
  if (code != SQLITE_OK && bindError_ == 0) bindError_ = code;
}

void Statement::bind(int index, std::string_view text) {
  check(sqlite3_bind_text64(handle_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

void Statement::bindInteger(int index, int64_t value) {
  check(sqlite3_bind_int64(handle_, index, value));
}

void Statement::bind(int index, std::nullopt_t) {
  check(sqlite3_bind_null(handle_, index));
}

Result<bool> Statement::step() {
  if (bindError_ != 0) return failure(db_, bindError_);
  const int code = sqlite3_step(handle_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  return failure(db_, code);
}

Result<void> Statement::run() {
  while (true) {
    auto row = step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return {};
  }
}

int64_t Statement::integer(int column) const {
  return sqlite3_column_int64(handle_, column);
}

std::string Statement::text(int column) const {
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(handle_, column));
  if (!bytes) return {};
  return std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(handle_, column)));
}

std::optional<int64_t> Statement::optionalInteger(int column) const {
  if (sqlite3_column_type(handle_, column) == SQLITE_NULL) return std::nullopt;
  return integer(column);
}

std::optional<std::string> Statement::optionalText(int column) const {
  if (sqlite3_column_type(handle_, column) == SQLITE_NULL) return std::nullopt;
  return text(column);
}

Result<Database> Database::open(const std::filesystem::path& file) {
  sqlite3* handle = nullptr;
  const int code = sqlite3_open_v2(file.c_str(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  Database db(handle);  // owns the handle even when opening failed
  if (code != SQLITE_OK) return failure(handle, code);
  sqlite3_extended_result_codes(handle, 1);
  return db;
}

Database::Database(Database&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
  if (this != &other) {
    sqlite3_close_v2(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

Database::~Database() {
  sqlite3_close_v2(handle_);
}

Result<Statement> Database::prepare(std::string_view sql) const {
  sqlite3_stmt* statement = nullptr;
  const int code = sqlite3_prepare_v2(handle_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_finalize(statement);
    return failure(handle_, code);
  }
  return Statement(statement, handle_);
}

Result<void> Database::script(const char* sql) const {
  char* message = nullptr;
  const int code = sqlite3_exec(handle_, sql, nullptr, nullptr, &message);
  std::string text = message ? message : "";
  sqlite3_free(message);
  if (code != SQLITE_OK) return storageFailure(std::string(sqlite3_errstr(code)) + ": " + text);
  return {};
}

int64_t Database::changes() const {
  return sqlite3_changes64(handle_);
}

}  // namespace ostrel::refsvc
