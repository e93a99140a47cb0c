// The echo of a typed line: on the cell screen, wrapping at the window's edge and erased back
// across wraps and resizes; and on the keyboard's terminal when output goes to a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/plain_console.h"
#include "tests/support/test_console.h"
#ifndef _WIN32
#include "tests/support/legacy_locale.h"
#endif

namespace {

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
