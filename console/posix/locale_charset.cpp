// The locale's character set, as the C library names it.
#include <langinfo.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <string_view>

#include "console/charset.h"

namespace {

// "UTF-8", "utf8", "UTF8"...: the name without case and punctuation.
bool NamesUtf8(std::string_view codeset) {
  std::string_view wanted = "utf8";
  for (const char c : codeset) {
    if (c == '-' || c == '_') continue;
    if (wanted.empty() || std::tolower(static_cast<unsigned char>(c)) != wanted.front()) {
      return false;
    }
    wanted.remove_prefix(1);
  }
  return wanted.empty();
}

// The locale the environment names for the character set, as setlocale would pick it.
std::string_view NamedLocale() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

// Whether the locale's name alone says it writes UTF-8: C, POSIX, or a codeset of UTF-8
// ("en_US.UTF-8", "C.utf8@euro").
bool NamesUtf8Locale(std::string_view name) {
  if (name == "C" || name == "POSIX") return true;
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view codeset = name.substr(dot + 1);
  return NamesUtf8(codeset.substr(0, codeset.find('@')));
}

}  // namespace

Charset Charset::FromLocale() {
  Charset charset;
  // Loading a locale costs a few hundred KB; there is no need when its name tells already.
  if (NamesUtf8Locale(NamedLocale())) return charset;
  // Only the character set is taken from the environment: messages, numbers and dates stay as
  // the program writes them. A locale that is not installed leaves the C locale in force.
  const char* name = std::setlocale(LC_CTYPE, "");
  if (name == nullptr || std::string_view(name) == "C" || std::string_view(name) == "POSIX") {
    return charset;
  }
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || NamesUtf8(codeset)) return charset;
  charset.utf8_ = false;
  charset.single_byte_ = MB_CUR_MAX == 1;
  return charset;
}
