#include "console/frame.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_console.h"

namespace {

// Fills every cell with a marker, so a test can see which cells a frame touched.
void FillWith(TestConsole& test, char marker) {
  const std::string row(static_cast<size_t>(test.console.Screen().Width()), marker);
  for (int r = 0; r < test.console.Screen().Height(); ++r) {
    MoveCursor(0, r);
    WriteText(row);
  }
}

TEST(Frames, ScreenFrameEdgesRuleAndBlankLastColumn) {
  TestConsole test;
  FillWith(test, 'x');
  DrawScreenFrame();
  EXPECT_EQ(test.Row(0).substr(0, 3 * 3), "╔══");
  EXPECT_EQ(test.At(118, 0).glyph, U'╗');
  EXPECT_EQ(test.At(0, 2).glyph, U'╟');
  EXPECT_EQ(test.At(1, 2).glyph, U'─');
  EXPECT_EQ(test.At(118, 2).glyph, U'╢');
  EXPECT_EQ(test.At(0, 29).glyph, U'╚');
  EXPECT_EQ(test.At(118, 29).glyph, U'╝');
  for (int row = 0; row < 30; ++row) {
    EXPECT_EQ(test.At(119, row).glyph, U' ') << "row " << row;
    if (row != 0 && row != 2 && row != 29) {
      EXPECT_EQ(test.At(0, row).glyph, U'║') << "row " << row;
      EXPECT_EQ(test.At(118, row).glyph, U'║') << "row " << row;
      EXPECT_EQ(test.Text(1, row, 117), std::string(117, ' ')) << "row " << row;
    }
  }
  EXPECT_EQ(test.Row(30), std::string(120, 'x'));  // below the frame: untouched
}

TEST(Frames, BoxFrameBlanksItsInsideOnlyAndTakesTheAttribute) {
  TestConsole test;
  FillWith(test, 'x');
  SetTextColor(4);
  DrawBoxFrame();
  EXPECT_EQ(
      test.Text(0, 0, 48), "╔" + [] {
        std::string edge;
        for (int i = 0; i < 46; ++i) edge += "═";
        return edge;
      }() + "╗");
  EXPECT_EQ(test.At(0, 2).glyph, U'╟');
  EXPECT_EQ(test.At(47, 2).glyph, U'╢');
  EXPECT_EQ(test.At(47, 8).glyph, U'╝');
  for (int row = 3; row < 8; ++row) EXPECT_EQ(test.Text(1, row, 46), std::string(46, ' '));
  for (int row = 0; row < 9; ++row) {
    EXPECT_EQ(test.At(48, row).glyph, U'x') << "right of the box, row " << row;
    for (int column = 0; column < 48; ++column) EXPECT_EQ(test.At(column, row).attribute, 4);
  }
  EXPECT_EQ(test.Row(9), std::string(120, 'x'));
}

TEST(Frames, ScreenFrameCoversTheBox) {
  TestConsole test;
  DrawBoxFrame();
  DrawScreenFrame();
  EXPECT_EQ(test.At(47, 0).glyph, U'═');
  EXPECT_EQ(test.At(47, 4).glyph, U' ');
  EXPECT_EQ(test.At(0, 8).glyph, U'║');
}

}  // namespace
