// The registry-script registrar of our ATL: runs a script in the registry-script
// language against the system registry (on Linux, the platform layer's substitute).
//
// The language, as far as we support it:
//   script  := root*
//   root    := ("HKCR" | "HKEY_CLASSES_ROOT" | "HKCU" | "HKEY_CURRENT_USER" |
//               "HKLM" | "HKEY_LOCAL_MACHINE") "{" item* "}"
//   item    := key | value
//   key     := ["NoRemove" | "ForceRemove" | "Delete"] name ["=" "s" text] ["{" item* "}"]
//   value   := "val" name "=" "s" text
//   name, text := a word or a 'quoted' string ('' inside quotes is one quote)
// %NAME% is replaced by the replacement given for NAME ("%%" is one percent sign) before
// the script is parsed.
//
// Registering creates every key and sets every value; "ForceRemove" keys are deleted
// first (a key holding subkeys cannot be, and fails the run), "Delete" keys are deleted. Unregistering deletes every key the script names,
// deepest first, except keys marked "NoRemove", which stay (their listed values and
// subkeys are removed); a key that still has subkeys the script does not name stays.
#ifndef ZQBLOG_PLATFORM_ATLREGISTRAR_H_
#define ZQBLOG_PLATFORM_ATLREGISTRAR_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace ATL {

struct _ATL_REGMAP_ENTRY {
  LPCOLESTR szKey;
  LPCOLESTR szData;
};

class CRegObject {
 public:
  // Adds a %key% replacement; a later one for the same key wins.
  HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item);
  HRESULT ClearReplacements();

  // Runs the script in registration or removal mode. Returns S_OK, E_FAIL for a script
  // that does not parse (nothing is written then), or the first registry failure as an
  // HRESULT.
  HRESULT StringRegister(LPCOLESTR script) { return Run(script, true); }
  HRESULT StringUnregister(LPCOLESTR script) { return Run(script, false); }

 private:
  HRESULT Run(LPCOLESTR script, bool doRegister);

  std::vector<std::pair<std::wstring, std::wstring>> replacements_;
};

}  // namespace ATL

#endif  // ZQBLOG_PLATFORM_ATLREGISTRAR_H_
