#include "host/settings/SettingsStore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "common/Utf8.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {

namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string WideToUtf8(const WCHAR* text, int length) {
  if (text == nullptr || length <= 0) return std::string();
  return Common::WideToUtf8(std::wstring_view(text, static_cast<size_t>(length)));
}

// The open database, shared by the store and its sections. Every use holds mutex.
class SettingsDatabase {
 public:
  ~SettingsDatabase() {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    sqlite3_close(db_);
  }

  static std::shared_ptr<SettingsDatabase> Open(const std::string& path) {
    std::shared_ptr<SettingsDatabase> database(new SettingsDatabase());
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &database->db_, flags, nullptr) != SQLITE_OK) {
      return nullptr;
    }
    sqlite3_busy_timeout(database->db_, kBusyTimeoutMs);
    if (!database->ExecRetrying("PRAGMA journal_mode=WAL") ||
        !database->ExecRetrying("PRAGMA synchronous=NORMAL") ||
        !database->ExecRetrying(
            "CREATE TABLE IF NOT EXISTS sections (name TEXT PRIMARY KEY NOT NULL);"
            "CREATE TABLE IF NOT EXISTS settings_values ("
            " section TEXT NOT NULL, key BLOB NOT NULL, value BLOB NOT NULL,"
            " time INTEGER NOT NULL, PRIMARY KEY (section, key));")) {
      return nullptr;
    }
    return database;
  }

  std::mutex& mutex() { return mutex_; }
  sqlite3* db() { return db_; }

  // The prepared statement of sql, prepared on first use and kept for the next ones
  // (every read or write of a setting would otherwise parse its SQL again); null when
  // it cannot be prepared. REQUIRES: mutex() held.
  sqlite3_stmt* Prepared(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    statements_.emplace(sql, stmt);
    return stmt;
  }

 private:
  SettingsDatabase() = default;

  // Set-up statements may meet a lock another process holds while it sets up the
  // same file; the busy handler covers most cases, the retry the rest.
  bool ExecRetrying(const char* sql) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) return true;
      if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

// One use of a prepared statement of the database: reset and its bindings cleared on
// scope exit, so that it holds no read transaction and is ready for the next use.
// REQUIRES: the database's mutex held for the whole use.
class Statement {
 public:
  Statement(SettingsDatabase& database, const char* sql) : stmt_(database.Prepared(sql)) {}
  ~Statement() {
    if (stmt_ == nullptr) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  bool BindText(int i, const std::string& text) {
    return sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool BindBlob(int i, const void* data, int size) {
    // A zero-length blob still needs a non-null pointer to be a blob, not NULL.
    static const char kEmpty = 0;
    return sqlite3_bind_blob(stmt_, i, size > 0 ? data : &kEmpty, size, SQLITE_TRANSIENT) ==
           SQLITE_OK;
  }
  std::string ColumnBytes(int i) const {
    const void* data = sqlite3_column_blob(stmt_, i);
    int size = sqlite3_column_bytes(stmt_, i);
    if (data == nullptr || size <= 0) return std::string();
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SettingsSection : public CComObjectRootEx<CComMultiThreadModel>, public ISettingsSection {
 public:
  BEGIN_COM_MAP(SettingsSection)
  COM_INTERFACE_ENTRY(ISettingsSection)
  END_COM_MAP()

  void Init(std::shared_ptr<SettingsDatabase> database, std::string section) {
    database_ = std::move(database);
    section_ = std::move(section);
  }

  STDMETHOD(WriteValue)(LPCSTR key, int time, LPCSTR value, int length) override {
    if (key == nullptr) return E_POINTER;
    if (length < 0) return E_INVALIDARG;
    if (value == nullptr && length > 0) return E_POINTER;
    std::lock_guard<std::mutex> lock(database_->mutex());
    Statement insert(*database_,
                     "INSERT INTO settings_values (section, key, value, time)"
                     " VALUES (?1, ?2, ?3, ?4) ON CONFLICT (section, key)"
                     " DO UPDATE SET value = excluded.value, time = excluded.time");
    if (!insert.ok() || !insert.BindText(1, section_) ||
        !insert.BindBlob(2, key, static_cast<int>(std::strlen(key))) ||
        !insert.BindBlob(3, value, length) ||
        sqlite3_bind_int64(insert.get(), 4, time) != SQLITE_OK) {
      return E_FAIL;
    }
    return sqlite3_step(insert.get()) == SQLITE_DONE ? S_OK : E_FAIL;
  }

  STDMETHOD(ReadValue)(LPCSTR key, char* buffer, int* length) override {
    if (key == nullptr || buffer == nullptr || length == nullptr) return E_POINTER;
    std::string value;
    {
      std::lock_guard<std::mutex> lock(database_->mutex());
      Statement select(*database_,
                       "SELECT value FROM settings_values WHERE section = ?1 AND key = ?2");
      if (!select.ok() || !select.BindText(1, section_) ||
          !select.BindBlob(2, key, static_cast<int>(std::strlen(key)))) {
        return E_FAIL;
      }
      int rc = sqlite3_step(select.get());
      if (rc == SQLITE_DONE) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      if (rc != SQLITE_ROW) return E_FAIL;
      value = select.ColumnBytes(0);
    }
    if (value.size() >= static_cast<size_t>(INT_MAX)) return E_FAIL;
    int needed = static_cast<int>(value.size()) + 1;
    if (*length < needed) {
      *length = needed;
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
    buffer[value.size()] = '\0';
    *length = needed - 1;
    return S_OK;
  }

 private:
  std::shared_ptr<SettingsDatabase> database_;
  std::string section_;
};

class SettingsStore : public CComObjectRootEx<CComMultiThreadModel>, public ISettingsStore {
 public:
  BEGIN_COM_MAP(SettingsStore)
  COM_INTERFACE_ENTRY(ISettingsStore)
  END_COM_MAP()

  void Init(std::shared_ptr<SettingsDatabase> database) { database_ = std::move(database); }

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }

  STDMETHOD(CreateSection)(BSTR name, int flag) override {
    std::string section = WideToUtf8(name, static_cast<int>(SysStringLen(name)));
    if (section.empty() || flag != 1) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(database_->mutex());
    Statement insert(*database_, "INSERT OR IGNORE INTO sections (name) VALUES (?1)");
    if (!insert.ok() || !insert.BindText(1, section)) return E_FAIL;
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return E_FAIL;
    return sqlite3_changes(database_->db()) > 0 ? S_OK : S_FALSE;
  }

  STDMETHOD(OpenSection)(BSTR name, ISettingsSection** section) override {
    if (section == nullptr) return E_POINTER;
    *section = nullptr;
    std::string text = WideToUtf8(name, static_cast<int>(SysStringLen(name)));
    if (text.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    {
      std::lock_guard<std::mutex> lock(database_->mutex());
      Statement select(*database_, "SELECT 1 FROM sections WHERE name = ?1");
      if (!select.ok() || !select.BindText(1, text)) return E_FAIL;
      int rc = sqlite3_step(select.get());
      if (rc == SQLITE_DONE) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      if (rc != SQLITE_ROW) return E_FAIL;
    }
    return CreateObjectWithReference<SettingsSection>(
        section, [&](SettingsSection* object) { object->Init(database_, std::move(text)); });
  }

  HRESULT List(const std::wstring* section, std::vector<SettingsEntry>* out) {
    std::lock_guard<std::mutex> lock(database_->mutex());
    Statement select(*database_,
                     section != nullptr
                         ? "SELECT section, key, value, time FROM settings_values"
                           " WHERE section = ?1 ORDER BY section, key"
                         : "SELECT section, key, value, time FROM settings_values"
                           " ORDER BY section, key");
    if (!select.ok()) return E_FAIL;
    if (section != nullptr &&
        !select.BindText(1, WideToUtf8(section->data(), static_cast<int>(section->size())))) {
      return E_FAIL;
    }
    out->clear();
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
      SettingsEntry entry;
      entry.section = Common::Utf8ToWide(select.ColumnBytes(0));
      entry.key = select.ColumnBytes(1);
      entry.value = select.ColumnBytes(2);
      entry.time = sqlite3_column_int64(select.get(), 3);
      out->push_back(std::move(entry));
    }
    return rc == SQLITE_DONE ? S_OK : E_FAIL;
  }

 private:
  std::shared_ptr<SettingsDatabase> database_;
};

}  // namespace

HRESULT OpenSettingsStore(const std::string& dbPath, ISettingsStore** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (dbPath.empty()) return E_INVALIDARG;
  std::error_code ignored;
  std::filesystem::path parent = std::filesystem::path(dbPath).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  std::shared_ptr<SettingsDatabase> database = SettingsDatabase::Open(dbPath);
  if (database == nullptr) return E_FAIL;
  return CreateObjectWithReference<SettingsStore>(
      out, [&](SettingsStore* store) { store->Init(std::move(database)); });
}

HRESULT ListSettingsValues(ISettingsStore* store, const std::wstring* section,
                           std::vector<SettingsEntry>* out) {
  if (out == nullptr) return E_POINTER;
  SettingsStore* ours = dynamic_cast<SettingsStore*>(store);
  if (ours == nullptr) return E_INVALIDARG;
  return ours->List(section, out);
}

}  // namespace ZQHost
}  // namespace Velmora
