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

}  // namespace

Charset Charset::FromLocale() {
  Charset charset;
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
