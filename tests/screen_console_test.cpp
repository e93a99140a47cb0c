#include "console/screen_console.h"

#include <gtest/gtest.h>

#include <string>

#include "console/frame.h"
#include "tests/support/test_console.h"

namespace {

TEST(LineEcho, TypedLineWrapsAtTheRightEdgeAndBackspaceGoesBackAcrossIt) {
  TestConsole test({std::string(5, 'a') + "bc\x7f\x7f\x7f"
                                          "X\r"},
                   {.size = {120, 31}});
  MoveCursor(115, 3);
  SetTextColor(4);
  EXPECT_EQ(ReadLine(), "aaaaX");
  EXPECT_EQ(test.Text(115, 3, 5), "aaaaX");
  EXPECT_EQ(test.At(119, 3).attribute, 4);
  EXPECT_EQ(test.Text(0, 4, 3), "   ");  // the wrapped b and c were erased
}

TEST(LineEcho, BackspaceAcrossAWrapInANarrowTerminal) {
  TestConsole test({"abcd",
                    "\x7f\x7f"
                    "Z\r"},
                   {.size = {80, 24}});
  MoveCursor(78, 3);
  EXPECT_EQ(ReadLine(), "abZ");
  EXPECT_EQ(test.Text(78, 3, 2), "ab");
  EXPECT_EQ(test.Text(0, 4, 2), "Z ");
}

TEST(LineEcho, CtrlUBlanksEveryEchoedCell) {
  TestConsole test(
      {"hello\x15"
       "ok\r"});
  MoveCursor(1, 3);
  EXPECT_EQ(ReadLine(), "ok");
  EXPECT_EQ(test.Text(1, 3, 6), "ok    ");
}

TEST(LineEcho, PipedInputIsNotEchoed) {
  TestConsole test({"secret\n"}, {.input_is_terminal = false, .input_ends = true});
  MoveCursor(1, 3);
  EXPECT_EQ(ReadLine(), "secret");
  EXPECT_EQ(test.Text(1, 3, 6), std::string(6, ' '));
}

TEST(LineEcho, ControlCharactersInWrittenTextNeverReachTheTerminalRaw) {
  TestConsole test;
  WriteText("a\x1b[31mb\x07");
  test.console.Pause(1);
  EXPECT_EQ(test.Text(0, 0, 8), "a␛[31mb␇");
  EXPECT_EQ(test.device.Output().find('\x07'), std::string::npos);
  EXPECT_EQ(test.device.Output().find("\x1b[31m"), std::string::npos);
}

TEST(ScreenConsole, EachScreenReachesTheTerminalInOneWrite) {
  TestConsole test;
  DrawScreenFrame();
  MoveCursor(2, 1);
  WriteText("Select");
  Pause(2000);
  EXPECT_EQ(test.device.OutputWrites(), 1);
  EXPECT_EQ(test.device.Sleeps(), std::vector<int>{2000});
  Pause(10);  // nothing changed: nothing more is sent
  EXPECT_EQ(test.device.OutputWrites(), 1);
}

TEST(ScreenConsole, MovesOutsideTheScreenAreIgnored) {
  TestConsole test;
  MoveCursor(5, 5);
  MoveCursor(-1, 3);
  MoveCursor(3, 5000);
  WriteText("x");
  EXPECT_EQ(test.At(5, 5).glyph, U'x');
}

TEST(ScreenConsole, ClearBlanksEverythingAndHomesTheCursor) {
  TestConsole test;
  DrawScreenFrame();
  ClearConsole();
  WriteText("q");
  EXPECT_EQ(test.At(0, 0).glyph, U'q');
  EXPECT_EQ(test.At(118, 29).glyph, U' ');
}

TEST(ScreenConsole, ResizeToASmallerTerminalKeepsTheLayoutAndRedraws) {
  TestConsole test({"a"});
  DrawScreenFrame();
  test.device.QueueScreenEvent({60, 20});
  test.device.AddChunk("\r");
  MoveCursor(1, 3);
  ReadLine();
  EXPECT_EQ(test.console.Screen().Width(), 120);  // nothing of the layout is lost
  EXPECT_EQ(test.At(118, 29).glyph, U'╝');
  EXPECT_GE(test.device.OutputWrites(), 2);
}

TEST(ReportFatal, ShowsABoxWaitsForEnterAndEndsWithStatusOne) {
  TestConsole test({"\r", "x", "\r"});
  IsKeyPressed(kKeyN);
  IsKeyPressed(kKeyN);  // an Enter typed before the box must not dismiss it
  try {
    ReportFatal("Failed to create file.");
    FAIL() << "returned";
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.status, 1);
    EXPECT_EQ(ended.error_message, "ERROR: Failed to create file.");
  }
  EXPECT_EQ(test.device.ChunksLeft(), 0u);
  bool caption = false, message = false, button = false;
  for (int row = 0; row < 31; ++row) {
    caption |= test.Row(row).find("═ ERROR ═") != std::string::npos;
    message |= test.Row(row).find("║  Failed to create file.") != std::string::npos;
    button |= test.Row(row).find("[  OK  ]") != std::string::npos;
  }
  EXPECT_TRUE(caption && message && button);
}

TEST(ReportFatal, DoesNotWaitWhenInputIsAPipe) {
  TestConsole test({}, {.input_is_terminal = false, .input_ends = false});
  EXPECT_THROW(ReportFatal("Failed to save file."), ProcessEnded);
}

}  // namespace
