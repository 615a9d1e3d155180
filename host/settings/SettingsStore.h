// SettingsStore: the host's persistent per-user settings (ISettingsStore with its
// ISettingsSection objects) in one SQLite database file.
//
// Layout: table "sections" (name TEXT PRIMARY KEY: the section name as UTF-8) and table
// "settings_values" (section TEXT, key BLOB, value BLOB, time INTEGER; primary key
// section + key). Keys and values are kept byte for byte (the plug-in writes them in
// its ANSI code page). The database runs in WAL mode with a busy time-out, so several
// stores, in one process or in several, can use one file at once.
//
// Operations (slots of the interface headers):
//   CreateSection(name, 1)   S_OK created, S_FALSE existed already; E_INVALIDARG for a
//                            null or empty name or a flag other than 1; E_FAIL when the
//                            database refuses.
//   OpenSection(name, out)   S_OK and the section; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
//                            and null when it was never created.
//   section WriteValue       stores value[0, length) with time, replacing the key's
//                            value; E_POINTER for a null key (or null value with
//                            length > 0), E_INVALIDARG for length < 0.
//   section ReadValue        copies the value and a zero terminator; *length is the
//                            value's length on S_OK, the capacity needed (length + 1) on
//                            HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
//                            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for an absent key.
// Reserved slots answer E_NOTIMPL. Every object is thread-safe; sections keep their
// store alive.
#ifndef ZQBLOG_HOST_SETTINGS_SETTINGSSTORE_H_
#define ZQBLOG_HOST_SETTINGS_SETTINGSSTORE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "interfaces/ISettingsStore.h"
#include "platform/platform.h"

namespace Velmora {
namespace ZQHost {

// Opens (creating when needed, with its parent folders) the database at dbPath.
// REQUIRES: out not null (E_POINTER). E_FAIL when the file cannot be opened or set up.
// On success *out holds one reference for the caller.
HRESULT OpenSettingsStore(const std::string& dbPath, ISettingsStore** out);

// One stored value, as ListSettingsValues reports it.
struct SettingsEntry {
  std::wstring section;
  std::string key;    // the key's bytes
  std::string value;  // the value's bytes
  int64_t time = 0;   // seconds since 1970, as written
};

// Every stored value, ordered by section and key; with section not null, only that
// section's. REQUIRES: store made by OpenSettingsStore (else E_INVALIDARG), out not null.
HRESULT ListSettingsValues(ISettingsStore* store, const std::wstring* section,
                           std::vector<SettingsEntry>* out);

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SETTINGS_SETTINGSSTORE_H_
