// The echo of a typed line: the cells each character takes and the clusters Backspace erases,
// checked against Unicode's own data; on the cell screen, wrapping at the window's edge and erased
// back across wraps and resizes; and on the keyboard's terminal when output goes to a file.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console/grapheme_table.h"
#include "console/plain_console.h"
#include "tests/support/test_console.h"
#ifndef _WIN32
#include "tests/support/legacy_locale.h"
#endif

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

#ifndef _WIN32  // Debian's Unicode data is not at hand under Wine
// Every line of Unicode's own test of grapheme clusters splits as it says, cluster by cluster
// from the end as Backspace takes them, but for the lines named here: in them a character that
// takes no cells goes with the character before it, on which the screen draws it.
TEST(LastClusterLength, SplitsUnicodesTestLinesButWhereNamed) {
  const struct {
    const char* why;
    std::set<int> lines;  // of GraphemeBreakTest.txt
  } kDifferences[] = {
      {"a mark, a joiner or a Hangul vowel or final jamo after a control, which Unicode splits "
       "(GB4): the control shows as its picture, and they are drawn on it",
       {60,  62,  64,  66,  67,  68,  70,  72,  74,  76,  77,  78,  79,  80,  82,  84,  86,
        87,  88,  89,  90,  92,  94,  96,  98,  100, 101, 102, 104, 106, 108, 110, 111, 112,
        113, 114, 116, 118, 120, 121, 122, 123, 124, 126, 128, 130, 132, 134, 135, 136, 138,
        140, 142, 144, 145, 146, 147, 148, 150, 152, 154, 155, 156, 157, 158, 160, 603}},
      {"a Hangul vowel or final jamo after a character it does not join, which Unicode splits "
       "(GB999): it is drawn on that character",
       {43,  44,  45,  46,  179, 180, 181, 182, 213, 214, 215, 216, 248, 250, 281, 282,
        283, 284, 316, 317, 318, 350, 352, 383, 384, 386, 418, 420, 451, 452, 454, 485,
        486, 487, 488, 519, 520, 521, 522, 553, 554, 555, 556, 587, 588, 589, 590}},
  };
  const std::string path = QUILLOMAT_UNICODE_DATA "/auxiliary/GraphemeBreakTest.txt";
  std::ifstream file(path);
  ASSERT_TRUE(file) << "no " << path << ": scripts/install-packages unicode-data";
  std::string line;
  std::getline(file, line);
  EXPECT_NE(line.find(std::string("-") + kGraphemeTableUnicodeVersion + ".txt"), std::string::npos)
      << "the grapheme table is not from this Unicode version: " << line;
  int number = 1;
  int tested = 0;
  int lines_in_file = -1;
  std::vector<int> seen(std::size(kDifferences), 0);
  while (std::getline(file, line)) {
    ++number;
    if (line.starts_with("# Lines: ")) lines_in_file = std::stoi(line.substr(9));
    std::istringstream fields(line.substr(0, line.find('#')));
    size_t kind = 0;
    while (kind < std::size(kDifferences) && !kDifferences[kind].lines.contains(number)) ++kind;
    // "÷ 0020 × 0308 ÷": the code points, and where the clusters start (after the first).
    std::string text;
    std::vector<size_t> starts;
    bool breaks = false;
    bool differs = false;
    for (std::string field; fields >> field;) {
      if (field == "÷" || field == "×") {
        breaks = field == "÷";
        continue;
      }
      const auto codepoint = static_cast<char32_t>(std::stoul(field, nullptr, 16));
      if (breaks && !text.empty()) {
        if (kind < std::size(kDifferences) && CellWidth(VisibleCodepoint(codepoint)) == 0) {
          differs = true;
        } else {
          starts.push_back(text.size());
        }
      }
      AppendUtf8(text, codepoint);
    }
    if (text.empty()) continue;
    ++tested;
    if (kind < std::size(kDifferences)) {
      EXPECT_TRUE(differs) << "line " << number << " no longer differs: " << line;
      ++seen[kind];
    }
    // Backspace keeps what it knows of the line from one cluster to the next; each cluster found
    // must be the same without it.
    ClusterLookBack look_back;
    for (ClusterLookBack* kept : {&look_back, static_cast<ClusterLookBack*>(nullptr)}) {
      std::vector<size_t> found;
      for (std::string_view rest = text; !rest.empty();) {
        rest.remove_suffix(LastClusterLength(rest, kept));
        if (!rest.empty()) found.insert(found.begin(), rest.size());
      }
      EXPECT_EQ(found, starts) << "line " << number << ": " << line;
    }
  }
  EXPECT_EQ(tested, lines_in_file);
  for (size_t kind = 0; kind < std::size(kDifferences); ++kind) {
    EXPECT_EQ(seen[kind], std::ssize(kDifferences[kind].lines)) << kDifferences[kind].why;
  }
}
#endif

std::string Repeated(std::string_view text, int times) {
  std::string repeated;
  for (int time = 0; time < times; ++time) repeated += text;
  return repeated;
}

// Each line is typed from column 118 of row 3 in a 120 by 31 window, so it wraps after two cells.
// `shown`: the last two cells of row 3, a bar, the first four of row 4.
TEST(ScreenEcho, ErasesWhatWasShownAcrossWrapsAndResizes) {
  const ScriptStep kNarrower{"", 0, WindowSize{80, 24}};
  const struct {
    const char* what;
    std::vector<ScriptStep> steps;
    std::string line, shown;
    std::pair<int, int> cursor;
  } cases[] = {
      {"a wide character is erased whole",
       {{"日\x7f"
         "b\r"}},
       "b",
       "b |    ",
       {119, 3}},
      {"back across a wrap", {{"abcd\x7f\x7fZ\x15xyz\x7f\r"}}, "xy", "xy|    ", {0, 4}},
      {"a wide character that does not fit leaves a gap",
       {{"a日本\x7f\r"}},
       "a日",
       "a |日  ",
       {2, 4}},
      {"back over the gap",
       {{"a日b\x7f\x7f"
         "c\r"}},
       "ac",
       "ac|    ",
       {0, 4}},
      {"back across a wrap made before a resize",
       {{"abc"}, kNarrower, {"\x7f\x7f\r"}},
       "a",
       "a |    ",
       {119, 3}},
      {"back from below every row a screen shows, in a window 2 wide",
       {{"ab"},
        {"", 0, WindowSize{2, 31}},
        {"日" + std::string(600, 'x') + std::string(601, '\x7f') + "\r"}},
       "ab",
       "ab|    ",
       {0, 4}},
      // U+0301 COMBINING ACUTE ACCENT, U+0E34 and U+0E48 Thai vowel and tone marks.
      {"marks join the character before them, across a wrap",
       {{"e\xcc\x81\xe0\xb8\x81\xe0\xb8\xb4\xe0\xb9\x88\r"}},
       "e\xcc\x81\xe0\xb8\x81\xe0\xb8\xb4\xe0\xb9\x88",
       "e\xcc\x81\xe0\xb8\x81\xe0\xb8\xb4\xe0\xb9\x88|    ",
       {0, 4}},
      {"a flag and an emoji sequence, each erased glyph by glyph back across the wrap",
       {{"a🇫🇷\x7f👨\u200d👩\u200d👧\x7f"
         "b\r"}},
       "ab",
       "ab|    ",
       {0, 4}},
      // A paste is shown as far as a screen has rows; past them only where it ends is counted.
      {"a paste ends far below, in a window 1 wide",
       {{"ab"}, {"", 0, WindowSize{1, 31}}, {std::string(600, 'x') + "\r"}},
       "ab" + std::string(600, 'x'),
       "ab|x   ",
       {0, 604}},
      {"a paste of wide characters, a mark and text ends far below, in a window 2 wide",
       {{"ab"}, {"", 0, WindowSize{2, 31}}, {Repeated("日", 300) + "e\xcc\x81xxx\r"}},
       "ab" + Repeated("日", 300) + "e\xcc\x81xxx",
       "ab|日  ",
       {0, 306}},
      {"a long paste, erased back a little far below",
       {{std::string(40000, 'x') + std::string(100, '\x7f') + "\r"}},
       std::string(39900, 'x'),
       "xx|xxxx",
       {58, 336}},
      {"a paste after erasing back across a resize, far below",
       {{std::string(40000, 'x')},
        {"", 0, WindowSize{1, 31}},
        {std::string(9000, '\x7f') + "abc" + std::string(100, '\x7f') + "\r"}},
       std::string(30903, 'x'),
       "xx|xxxx",
       {0, 256}},
      {"marks with nothing before them stand on a dotted circle",
       {{"\xcc\x81\xcc\x81x\x7f\r"}},
       "\xcc\x81\xcc\x81",
       "◌\xcc\x81\xcc\x81 |    ",
       {119, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestConsole test;
    test.device.steps.assign(c.steps.begin(), c.steps.end());
    MoveCursor(118, 3);
    SetTextColor(4);
    EXPECT_EQ(ReadLine(), c.line);
    EXPECT_EQ(test.Text(116, 3, 4).substr(2) + "|" + test.Text(0, 4, 4), c.shown);
    EXPECT_EQ(test.Text(116, 3, 2), "  ");
    EXPECT_EQ(test.At(118, 3).attribute, 4);
    EXPECT_EQ(std::pair(test.console.Screen().CursorColumn(), test.console.Screen().CursorRow()),
              c.cursor);
  }
}

// Output to a file: Backspace takes back every cell the cluster took on the keyboard's terminal,
// and the marks with them.
TEST(TerminalEcho, BackspaceErasesEveryCellOfTheCluster) {
  const std::pair<std::string, std::string> cases[] = {
      {"a日\x7f\x7f\r", "a日\b\b  \b\b\b \b\r\n"},
      {"\xf0\x9f\x98\x80\x7f\r", "\xf0\x9f\x98\x80\b\b  \b\b\r\n"},
      {"\xc3\xa9\xc2\x85\x7f\r", "\xc3\xa9\xef\xbf\xbd\b \b\r\n"},  // a C1 control shows as U+FFFD
      {"\xe2\x81\xa7\r", "\xef\xbf\xbd\r\n"},  // so does a bidirectional control (U+2067)
      {"a\xcc\x81\xcc\x81\x7f\r", "a\xcc\x81\xcc\x81\b \b\r\n"},  // marks go with their character
      {"👍🏽\x7f\r", "👍🏽\b\b\b\b    \b\b\b\b\r\n"},  // a cluster: two glyphs, four cells
      {"\xcc\x81\x7f\xcc\x81\r", "◌\xcc\x81\b \b◌\xcc\x81\r\n"},  // nothing before it to join
      {"ab\x7f\xcc\x81\r", "ab\b \b\xcc\x81\r\n"},                // the a is still there
      {"\x04", "\r\n"},  // Ctrl+D on an empty line ends the line shown too
  };
  for (const auto& [keys, echo] : cases) {
    ScriptedDevice device({keys}, {});
    PlainConsole console(device);
    console.ReadLine();
    EXPECT_EQ(device.echo, echo) << testing::PrintToString(keys);
  }
#ifndef _WIN32
  // The keyboard's terminal reads the locale's charset: the echo goes out in it too.
  const LegacyLocale latin1("en_US.ISO-8859-1");
  if (latin1.charset.IsUtf8()) GTEST_SKIP() << "no en_US.ISO-8859-1 (scripts/install-locales)";
  ScriptedDevice device({"k\xf6\x7f\xe9\r"}, {});
  PlainConsole console(device, latin1.charset);
  EXPECT_EQ(console.ReadLine(), "k\xe9");
  EXPECT_EQ(device.echo, "k\xf6\b \b\xe9\r\n");
#endif
}

}  // namespace
