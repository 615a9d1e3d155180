// Windows side of the platform contract: the system provides every name but the
// conversion code page.
#include "platform/platform.h"

#include <cstdlib>

namespace {

// The default ANSI code page of the thread locale, or the system ANSI code page when
// the locale has none (a Unicode-only locale answers "0").
UINT ChooseConversionACP() {
  // On NT 5 and later the thread's ANSI code page is that of the thread locale; earlier
  // systems read the same locale entry, so one query serves both.
  char number[8] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, number,
                     static_cast<int>(sizeof number)) != 0) {
    UINT codePage = static_cast<UINT>(std::strtoul(number, nullptr, 10));
    if (codePage != 0) return codePage;
  }
  return GetACP();
}

}  // namespace

extern "C" UINT ZqGetConversionACP(void) {
  // Chosen once per process, by the first caller's thread.
  static const UINT codePage = ChooseConversionACP();
  return codePage;
}
