// The echo of a typed line: on the cell screen, wrapping at the window's edge and erased back
// across wraps and resizes; and on the keyboard's terminal when output goes to a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/plain_console.h"
#include "tests/support/test_console.h"

namespace {

// Each line is typed from column 118 of row 3 in a 120 by 31 window, so it wraps after two cells.
TEST(ScreenEcho, ErasesWhatWasShownAcrossWrapsAndResizes) {
  const ScriptStep kNarrower{"", 0, WindowSize{80, 24}};
  const struct {
    const char* what;
    std::vector<ScriptStep> steps;
    const char* line;
    const char* row_end;   // the last four cells of row 3
    const char* next_row;  // the first four of row 4
    int cursor_column;
    int cursor_row;
  } cases[] = {
      {"a wide character is erased whole",
       {{"日\x7f"
         "b\r"}},
       "b",
       "  b ",
       "    ",
       119,
       3},
      {"back across a wrap", {{"abcd\x7f\x7fZ\x15xyz\x7f\r"}}, "xy", "  xy", "    ", 0, 4},
      {"a wide character that does not fit leaves a gap",
       {{"a日本\x7f\r"}},
       "a日",
       "  a ",
       "日  ",
       2,
       4},
      {"back over the gap",
       {{"a日b\x7f\x7f"
         "c\r"}},
       "ac",
       "  ac",
       "    ",
       0,
       4},
      {"back across a wrap made before a resize",
       {{"abc"}, kNarrower, {"\x7f\x7f\r"}},
       "a",
       "  a ",
       "    ",
       119,
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestConsole test;
    test.device.steps.assign(c.steps.begin(), c.steps.end());
    MoveCursor(118, 3);
    SetTextColor(4);
    EXPECT_EQ(ReadLine(), c.line);
    EXPECT_EQ(test.Text(116, 3, 4), c.row_end);
    EXPECT_EQ(test.Text(0, 4, 4), c.next_row);
    EXPECT_EQ(test.At(118, 3).attribute, 4);
    EXPECT_EQ(test.console.Screen().CursorColumn(), c.cursor_column);
    EXPECT_EQ(test.console.Screen().CursorRow(), c.cursor_row);
  }
}

// Output to a file: Backspace takes back every cell the character took on the keyboard's terminal.
TEST(TerminalEcho, BackspaceErasesEveryCellOfTheCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"a日\x7f\x7f\r", "a日\b\b  \b\b\b \b\r\n"},
      {"\xf0\x9f\x98\x80\x7f\r", "\xf0\x9f\x98\x80\b\b  \b\b\r\n"},
      {"\xc3\xa9\xc2\x85\x7f\r", "\xc3\xa9\xef\xbf\xbd\b \b\r\n"},  // a C1 control shows as U+FFFD
  };
  for (const auto& [keys, echo] : cases) {
    ScriptedDevice device({keys}, {});
    PlainConsole console(device);
    console.ReadLine();
    EXPECT_EQ(device.echo, echo) << testing::PrintToString(keys);
  }
}

}  // namespace
