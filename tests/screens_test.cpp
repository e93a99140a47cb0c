// Frames, the opening screens and the screen console, cell by cell on the in-memory console.
#include <gtest/gtest.h>

#include <string>

#include "console/frame.h"
#include "console/plain_console.h"
#include "screens/closing_screens.h"
#include "screens/color_picker.h"
#include "screens/opening_screens.h"
#include "tests/support/temp_dir.h"
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

// The box replaces only its own rectangle, in the current attribute. (Its cells are the
// pictures' check, scripts/draw-pictures --check.)
TEST(OpeningScreens, WelcomeThenNamingWithWhatWasTypedWhileWaiting) {
  TestConsole test({"x", "N", "\x7f a.b\r"});
  FillScreenWith('x');
  SetTextColor(4);
  ShowWelcome();
  EXPECT_EQ(test.Text(47, 0, 2) + test.Text(47, 8, 2) + test.Text(0, 9, 48),
            "╗x╝x" + std::string(48, 'x'));
  EXPECT_EQ(test.At(47, 8).attribute, 4);
  EXPECT_EQ(test.console.Screen().CursorColumn(), 3);
  EXPECT_EQ(test.console.Screen().CursorRow(), 16);
  WaitForNewFileKey();
  EXPECT_EQ(AskDocumentName(), "x a.b");
  EXPECT_EQ(test.Text(0, 4, 48), "║  Name your file." + std::string(29, ' ') + "║");
  EXPECT_EQ(test.Text(0, 6, 48), "║  x a.b" + std::string(39, ' ') + "║");
  EXPECT_EQ(test.Text(2, 16, 2), " x");

  // Windows' redirected output: each frame glyph as its code page 437 byte.
  ScriptedDevice device({}, {});
  PlainConsole plain(device, PlainConsole::GlyphBytes::kCodePage437);
  ConsoleOutput = &plain;
  DrawBoxFrame();
  Pause(0);
  ConsoleOutput = &test.console;
  const auto row = [](char left, char middle, char right) {
    return left + std::string(46, middle) + right;
  };
  EXPECT_EQ(device.output, row('\xC9', '\xCD', '\xBB') + row('\xBA', ' ', '\xBA') +
                               row('\xC7', '\xC4', '\xB6') + Repeat(row('\xBA', ' ', '\xBA'), 5) +
                               row('\xC8', '\xCD', '\xBC'));
}

// The menu's frame covers the screen but its blank last column and the row below it. (Its cells
// and the labels' colours are the pictures' check.)
TEST(ColorPicker, TheLowestQueuedDigitWinsAndStaysQueued) {
  TestConsole test({"x9 3", "\r"});
  FillScreenWith('x');
  PickTextColor();
  EXPECT_EQ(test.Text(118, 0, 2) + test.Text(118, 28, 2), "╗ ║ ");
  EXPECT_EQ(test.Text(0, 30, 120), std::string(120, 'x'));
  EXPECT_EQ(ChosenColor, 3);
  EXPECT_EQ(test.console.Screen().CursorColumn(), 2);  // where the menu waits
  EXPECT_EQ(test.console.Screen().CursorRow(), 3);
  EXPECT_EQ(test.console.Screen().Attribute(), 9);
  EXPECT_FALSE(IsKeyPressed('3'));  // still queued, but not pressed again
  EXPECT_EQ(ReadLine(), "x9 3");
}

// Keyboard and piped input: the line read (what the menu's digit started, an empty line, input
// that ends mid-line or has already ended, a megabyte) is what the document holds.
TEST(ClosingScreens, TheTextIsSavedThenTheFarewellWaitsForAKeyAndEndsWithStatusZero) {
  const std::string megabyte(1 << 20, 'x');
  const std::pair<std::vector<std::string>, std::string> runs[] = {
      {{"4hel", "lo\r", "q"}, "4hello"}, {{"\r", "q"}, ""}, {{"half"}, "half"}, {{}, ""},
      {{megabyte + "\n"}, megabyte},
  };
  for (const auto& [input, saved] : runs) {
    WorkingTempDir dir;
    dir.Write("txt/diary.txt", "an older entry");
    const bool keyboard = input.size() > 1;
    TestConsole test(input, {.input_is_terminal = keyboard, .input_ends = !keyboard});
    DrawScreenFrame();  // the colour menu's frame, which the farewell must clear away
    ChosenColor = 4;
    const auto ended = EndingOf([] { EnterTextAndSave("diary"); });
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->status, 0) << ended->error_message;
    EXPECT_EQ(dir.Read("txt/diary.txt"), saved);
    EXPECT_TRUE(test.device.steps.empty());  // the final key was taken
    EXPECT_EQ(test.device.now, 3000);
    EXPECT_EQ(test.Text(0, 4, 48), "║ Quillomat v1.0 by the Quillomat authors      ║");
    EXPECT_EQ(test.At(118, 29).glyph, U' ');  // the menu's frame was cleared away
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

// A terminal may claim 65535 by 65535: the screen keeps to its caps, and the echo wraps and the box
// is centred in the part of the window the screen covers, before and after a resize.
TEST(ScreenConsole, AWindowOfAnySizeShowsWhatTheCappedScreenHolds) {
  constexpr WindowSize kHuge{65535, 65535};
  const struct {
    WindowSize start;
    std::optional<WindowSize> resize{};
    int edge;  // where the echo wraps
    int box_left;
    int box_top;
  } runs[] = {
      {.start = kHuge, .edge = 512, .box_left = 242, .box_top = 124},
      {.start = {120, 31}, .resize = kHuge, .edge = 512, .box_left = 242, .box_top = 124},
      {.start = kHuge, .resize = WindowSize{80, 24}, .edge = 80, .box_left = 26, .box_top = 8},
  };
  for (const auto& run : runs) {
    TestConsole test({"x", "ab\r", "\r"}, {.size = run.start});
    if (run.resize) test.device.steps.push_front({"", 0, run.resize});
    WaitForKey();
    MoveCursor(static_cast<int16_t>(run.edge - 1), 3);
    EXPECT_EQ(ReadLine(), "ab");
    EXPECT_EQ(test.Text(run.edge - 1, 3, 1) + test.Text(0, 4, 1), "ab");
    EXPECT_TRUE(EndingOf([] { ReportFatal("Failed to create file."); }));
    EXPECT_EQ(test.Text(run.box_left, run.box_top + 2, 28), "║  Failed to create file.  ║");
    EXPECT_NE(test.device.output.find("Failed to create file."), std::string::npos);
    EXPECT_EQ(test.console.Screen().Width(), CellScreen::kMaxWidth);
    EXPECT_EQ(test.console.Screen().Height(), CellScreen::kMaxHeight);
  }
}

// Only Enter, Space or Escape dismiss the box: not a capital M, a keypad digit, Alt+M, nor the
// mouse reports (the X10 one holds a space).
TEST(ReportFatal, ShowsABoxWaitsForAFreshEnterAndEndsWithStatusOne) {
  TestConsole test({"\r", "xM\x1bOq\x1bM\x1b[M !!\x1b[<0;1;1M", "\r"});
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
