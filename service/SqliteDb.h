// A thin owner of one SQLite connection and its prepared statements. Every failure is
// raised as StoreError, so callers write straight-line code inside a transaction and
// turn the exception into the service's "fail" answer in one place.
#ifndef ZQBLOG_SERVICE_SQLITEDB_H_
#define ZQBLOG_SERVICE_SQLITEDB_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace Velmora {
namespace ZQBlog {
namespace Service {

// A database fault: the service answers it as a server-side failure.
class StoreError : public std::runtime_error {
 public:
  explicit StoreError(const std::string& what) : std::runtime_error(what) {}
};

class SqliteDb {
 public:
  SqliteDb() = default;
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Opens (creating when missing) the database at path; ":memory:" for a private
  // in-memory one. Throws StoreError.
  void Open(const std::string& path);
  // Runs one or more statements without results. Throws StoreError.
  void Exec(const char* sql);
  // Row id of the last successful INSERT.
  int64_t LastInsertId() const;
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// One prepared statement. Bind indexes start at 1, column indexes at 0.
class SqliteStatement {
 public:
  // REQUIRES: db is open. Throws StoreError when sql does not compile.
  SqliteStatement(SqliteDb& db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  SqliteStatement& Bind(int index, int64_t value);
  SqliteStatement& Bind(int index, std::string_view text);
  // Advances to the next row: true when a row is available, false when done.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();
  // Makes the statement ready to run again; bindings stay until rebound.
  void Reset();

  int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless Commit ran.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void Commit();

 private:
  SqliteDb& db_;
  bool done_ = false;
};

}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_SERVICE_SQLITEDB_H_
