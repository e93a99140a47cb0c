// The charset of a legacy locale (Latin-1, KOI8-R, EUC-JP...), taken as the program takes it at
// start; the C library's locale is put back after. POSIX only: Windows reads no locale.
#pragma once

#include <clocale>
#include <cstdlib>

#include "console/charset.h"

class LegacyLocale {
 public:
  explicit LegacyLocale(const char* name) {
    setenv("LC_ALL", name, 1);
    charset = Charset::FromLocale();
    unsetenv("LC_ALL");
  }
  ~LegacyLocale() { std::setlocale(LC_CTYPE, "C"); }
  LegacyLocale(const LegacyLocale&) = delete;
  LegacyLocale& operator=(const LegacyLocale&) = delete;

  Charset charset;  // UTF-8 when the locale is not installed
};
