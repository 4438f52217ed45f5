// The one question the shared tests ask of a locale, its decimal separator,
// answered by the Windows user locale (GetLocaleInfo), which Wine takes from
// LANG when the wine process starts.
#pragma once

#include <locale.h>
#include <windows.h>

typedef void* locale_t;
#define LC_NUMERIC_MASK 1
#define RADIXCHAR 0x10000

inline locale_t newlocale(int, const char*, locale_t) { return reinterpret_cast<locale_t>(1); }
inline void freelocale(locale_t) {}
inline const char* nl_langinfo_l(int, locale_t) {
  static char separator[8];
  if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator)) separator[0] = 0;
  return separator;
}
