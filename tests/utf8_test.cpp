// The cells each character takes, checked against the C library's own widths on every code
// point.
#include "console/utf8.h"

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <locale.h>
#include <wchar.h>
#endif

namespace {

#if defined(__GLIBC__)
// Every code point takes the cells the C library gives it in a UTF-8 locale, but for the kinds of
// difference named here, each of which must still occur. Glibc 2.36 (Debian 12) knows Unicode
// 14.0; the table comes from Debian's Unicode 15.0 data.
TEST(CellWidth, AgreesWithTheCLibraryButWhereNamed) {
  const struct {
    const char* why;
    bool (*applies)(char32_t codepoint, int library, int table);
  } kDifferences[] = {
      {"a control: the program shows its picture instead, one cell wide",
       [](char32_t c, int, int table) {
         return table == 1 && (c < 0x20 || (c >= 0x7F && c < 0xA0));
       }},
      {"no character to the C library (-1): unassigned in Unicode 14.0 or a noncharacter. The "
       "table gives unassigned ones a cell, as terminals do, or two where Unicode says they "
       "default to wide, and gives Unicode 15.0's new characters their own widths",
       [](char32_t, int library, int) { return library == -1; }},
      {"the C library's own choice: the circled numbers on black squares (East Asian ambiguous) "
       "and the Yijing hexagrams (neutral) are wide to it alone",
       [](char32_t c, int library, int table) {
         return library == 2 && table == 1 &&
                ((c >= 0x3248 && c <= 0x324F) || (c >= 0x4DC0 && c <= 0x4DFF));
       }},
  };
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  ASSERT_NE(utf8, nullptr) << "the C library has no C.UTF-8 locale";
  const locale_t previous = uselocale(utf8);
  std::vector<int> seen(std::size(kDifferences), 0);
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const int library = wcwidth(static_cast<wchar_t>(c));
    const int table = CellWidth(c);
    if (library == table) continue;
    size_t kind = 0;
    while (kind < std::size(kDifferences) && !kDifferences[kind].applies(c, library, table)) ++kind;
    if (kind == std::size(kDifferences)) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(c) << std::dec
                    << ": the C library " << library << ", the table " << table;
    } else {
      ++seen[kind];
    }
  }
  uselocale(previous);
  freelocale(utf8);
  for (size_t kind = 0; kind < std::size(kDifferences); ++kind) {
    EXPECT_GT(seen[kind], 0) << "no longer a difference: " << kDifferences[kind].why;
  }
}
#endif

}  // namespace
