// Frames, the opening screens and the screen console, cell by cell on the in-memory console.
#include <gtest/gtest.h>

#include <string>

#include "console/frame.h"
#include "screens/opening_screens.h"
#include "tests/support/test_console.h"

namespace {

std::string Repeat(std::string_view text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

void FillScreenWith(char marker) {
  for (int row = 0; row < 31; ++row) {
    MoveCursor(0, row);
    WriteText(std::string(120, marker));
  }
}

TEST(Frames, ScreenFrameHasItsEdgesRuleBlankInsideAndBlankLastColumn) {
  TestConsole test;
  FillScreenWith('x');
  DrawScreenFrame();
  EXPECT_EQ(test.Text(0, 0, 120), "╔" + Repeat("═", 117) + "╗ ");
  EXPECT_EQ(test.Text(0, 2, 120), "╟" + Repeat("─", 117) + "╢ ");
  EXPECT_EQ(test.Text(0, 29, 120), "╚" + Repeat("═", 117) + "╝ ");
  for (int row : {1, 3, 28}) EXPECT_EQ(test.Text(0, row, 120), "║" + std::string(117, ' ') + "║ ");
  EXPECT_EQ(test.Text(0, 30, 120), std::string(120, 'x'));
}

TEST(Frames, BoxFrameReplacesOnlyItsRectangleInTheCurrentAttribute) {
  TestConsole test;
  FillScreenWith('x');
  SetTextColor(4);
  DrawBoxFrame();
  EXPECT_EQ(test.Text(0, 0, 49), "╔" + Repeat("═", 46) + "╗x");
  EXPECT_EQ(test.Text(0, 2, 49), "╟" + Repeat("─", 46) + "╢x");
  EXPECT_EQ(test.Text(0, 5, 49), "║" + std::string(46, ' ') + "║x");
  EXPECT_EQ(test.Text(0, 8, 49), "╚" + Repeat("═", 46) + "╝x");
  EXPECT_EQ(test.Text(0, 9, 48), std::string(48, 'x'));
  EXPECT_EQ(test.At(47, 8).attribute, 4);
  EXPECT_EQ(test.At(48, 8).attribute, kDefaultAttribute);
}

TEST(OpeningScreens, WelcomeThenNamingWithWhatWasTypedWhileWaiting) {
  TestConsole test({"x", "N", "\x7f a.b\r"});
  ShowWelcome();
  EXPECT_EQ(test.Text(19, 1, 9), "Quillomat");
  EXPECT_EQ(test.Text(2, 4, 39), " Press N key to create a new text file.");
  EXPECT_EQ(test.Text(2, 6, 41), " Saved files are stored in Quillomat/txt/");
  EXPECT_EQ(test.console.Screen().CursorColumn(), 3);
  EXPECT_EQ(test.console.Screen().CursorRow(), 16);
  WaitForNewFileKey();
  EXPECT_EQ(AskDocumentName(), "x a.b");
  EXPECT_EQ(test.Text(0, 4, 48), "║  Name your file." + std::string(29, ' ') + "║");
  EXPECT_EQ(test.Text(0, 6, 48), "║  x a.b" + std::string(39, ' ') + "║");
  EXPECT_EQ(test.Text(2, 16, 2), "  ");
}

TEST(LineEcho, WrapsAtTheRightEdgeAndErasesBackAcrossTheWrap) {
  for (const WindowSize size : {WindowSize{120, 31}, WindowSize{80, 24}}) {
    TestConsole test({"abcd",
                      "\x7f\x7f"
                      "Z\x15xyz\x7f\r"},
                     {.size = size});
    MoveCursor(size.columns - 2, 3);
    SetTextColor(4);
    EXPECT_EQ(ReadLine(), "xy");
    EXPECT_EQ(test.Text(size.columns - 2, 3, 2), "xy");
    EXPECT_EQ(test.At(size.columns - 1, 3).attribute, 4);
    EXPECT_EQ(test.Text(0, 4, 2), "  ");
  }
}

TEST(ScreenConsole, ControlCharactersInTextNeverReachTheTerminalRaw) {
  TestConsole test;
  WriteText("a\x1b[31mb\x07");
  Pause(1);
  EXPECT_EQ(test.Text(0, 0, 8), "a␛[31mb␇");
  EXPECT_EQ(test.device.output.find("\x1b[31mb"), std::string::npos);
  EXPECT_EQ(test.device.output.find('\x07'), std::string::npos);
}

TEST(ScreenConsole, EachScreenReachesTheTerminalInOneWriteAndUnchangedOnesInNone) {
  TestConsole test;
  DrawScreenFrame();
  MoveCursor(2, 1);
  WriteText("Select");
  Pause(2000);
  Pause(10);
  EXPECT_EQ(test.device.output_writes, 1);
  EXPECT_EQ(test.device.now, 2010);
}

TEST(ScreenConsole, ResizeKeepsTheLayoutAndRedrawsIt) {
  TestConsole test({"a"});
  test.device.steps.push_back({"", 0, WindowSize{60, 20}});
  test.device.steps.push_back({"\r"});
  DrawScreenFrame();
  MoveCursor(1, 3);
  ReadLine();
  EXPECT_EQ(test.At(118, 29).glyph, U'╝');
  EXPECT_EQ(test.device.output_writes, 3);  // the frame, the repaint, the typed a
}

TEST(ReportFatal, ShowsABoxWaitsForAFreshEnterAndEndsWithStatusOne) {
  TestConsole test({"\r", "x", "\r"});
  IsKeyPressed(kKeyN);
  IsKeyPressed(kKeyN);  // an Enter typed before the box must not dismiss it
  try {
    ReportFatal("Failed to create file.");
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.status, 1);
    EXPECT_EQ(ended.error_message, "ERROR: Failed to create file.");
  }
  EXPECT_TRUE(test.device.steps.empty());
  EXPECT_EQ(test.Text(46, 12, 28), "╔" + Repeat("═", 9) + " ERROR " + Repeat("═", 10) + "╗");
  EXPECT_EQ(test.Text(46, 14, 28), "║  Failed to create file.  ║");
  EXPECT_EQ(test.Text(56, 16, 8), "[  OK  ]");
}

}  // namespace
