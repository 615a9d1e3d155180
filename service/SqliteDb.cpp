#include "SqliteDb.h"

#include <sqlite3.h>

namespace Velmora {
namespace ZQBlog {
namespace Service {

namespace {

[[noreturn]] void Fail(sqlite3* db, const char* what) {
  std::string message = what;
  if (db != nullptr) {
    message += ": ";
    message += sqlite3_errmsg(db);
  }
  throw StoreError(message);
}

}  // namespace

SqliteDb::~SqliteDb() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

void SqliteDb::Open(const std::string& path) {
  if (db_ != nullptr) throw StoreError("database already open");
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string message = "cannot open database " + path;
    if (db_ != nullptr) {
      message += ": ";
      message += sqlite3_errmsg(db_);
      sqlite3_close_v2(db_);
      db_ = nullptr;
    }
    throw StoreError(message);
  }
  sqlite3_busy_timeout(db_, 5000);
}

void SqliteDb::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : "exec failed";
    sqlite3_free(error);
    throw StoreError(message);
  }
}

int64_t SqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

SqliteStatement::SqliteStatement(SqliteDb& db, const char* sql) : db_(db) {
  if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
    Fail(db.handle(), "prepare");
  }
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(db_.handle(), "bind");
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view text) {
  // SQLITE_TRANSIENT: SQLite copies the bytes, so temporaries may be bound.
  if (sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    Fail(db_.handle(), "bind");
  }
  return *this;
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_.handle(), "step");
}

void SqliteStatement::Run() {
  while (Step()) {
  }
}

void SqliteStatement::Reset() { sqlite3_reset(stmt_); }

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string SqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  const int length = sqlite3_column_bytes(stmt_, column);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (!done_) {
    // A failed rollback leaves nothing better to do; the connection stays usable.
    sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void SqliteTransaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
