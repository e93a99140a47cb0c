#include "console/screen_renderer.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <memory>
#include <string>

#include "console/utf8.h"

namespace {

// A terminal emulator that the renderer's bytes are played into.
class Emulator {
 public:
  Emulator(int columns, int rows) : vterm_(vterm_new(rows, columns), vterm_free) {
    vterm_set_utf8(vterm_.get(), 1);
    screen_ = vterm_obtain_screen(vterm_.get());
    vterm_screen_reset(screen_, 1);
  }
  void Play(const std::string& bytes) {
    vterm_input_write(vterm_.get(), bytes.data(), bytes.size());
  }
  VTermScreenCell CellAt(int column, int row) const {
    VTermScreenCell cell{};
    vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
    return cell;
  }
  char32_t GlyphAt(int column, int row) const {
    const uint32_t glyph = CellAt(column, row).chars[0];
    return glyph == 0 ? U' ' : glyph;
  }
  // -1 for the default foreground, else the palette index.
  int ForegroundAt(int column, int row) const {
    const VTermColor colour = CellAt(column, row).fg;
    if (VTERM_COLOR_IS_DEFAULT_FG(&colour)) return -1;
    return VTERM_COLOR_IS_INDEXED(&colour) ? colour.indexed.idx : -2;
  }

 private:
  std::unique_ptr<VTerm, void (*)(VTerm*)> vterm_;
  VTermScreen* screen_;
};

void ExpectSameGlyphs(const CellScreen& screen, const Emulator& emulator, int columns, int rows) {
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      ASSERT_EQ(emulator.GlyphAt(column, row), screen.At(column, row).glyph)
          << "at (" << column << ", " << row << ")";
    }
  }
}

TEST(ScreenRenderer, TerminalShowsWhatTheCellScreenHolds) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(120, 31);
  screen.MoveCursor(10, 2);
  screen.Write("Grüße ╔═╗ ┤ ␛ \xef\xbf\xbd end");
  screen.MoveCursor(117, 30);
  screen.Write("abc");  // the very last cell
  emulator.Play(renderer.Render(screen, 120, 31));
  ExpectSameGlyphs(screen, emulator, 120, 31);
}

// A wide character takes two cells on the terminal but one on the screen: what follows it must
// still land where the screen says.
TEST(ScreenRenderer, TextAfterAWideCharacterStaysInPlace) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(120, 31);
  screen.Write("\xf0\x9f\x98\x80 \xe6\x97\xa5\xe8\xa8\x98xyz");
  emulator.Play(renderer.Render(screen, 120, 31));
  EXPECT_EQ(emulator.GlyphAt(0, 0), U'\U0001F600');
  EXPECT_EQ(emulator.GlyphAt(4, 0), U'x');
  EXPECT_EQ(emulator.GlyphAt(6, 0), U'z');
}

TEST(ScreenRenderer, ColoursFollowTheConsoleAttributes) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(120, 31);
  for (uint16_t attribute = 1; attribute <= 9; ++attribute) {
    screen.SetAttribute(attribute);
    screen.Write(std::to_string(attribute));
  }
  emulator.Play(renderer.Render(screen, 120, 31));
  // blue, green, cyan, red, magenta, yellow, default, dark grey, bright blue
  const int expected[] = {4, 2, 6, 1, 5, 3, -1, 8, 12};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(emulator.ForegroundAt(i, 0), expected[i]) << i + 1;
}

TEST(ScreenRenderer, SendsOnlyWhatChanged) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(120, 31);
  screen.Write("hello world");
  emulator.Play(renderer.Render(screen, 120, 31));
  EXPECT_EQ(renderer.Render(screen, 120, 31), "");
  screen.MoveCursor(6, 0);
  screen.Write("W");
  const std::string update = renderer.Render(screen, 120, 31);
  EXPECT_LT(update.size(), 30u) << testing::PrintToString(update);
  emulator.Play(update);
  ExpectSameGlyphs(screen, emulator, 120, 31);
}

TEST(ScreenRenderer, ErasedRowsAndOverwritesStayInStep) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(120, 31);
  for (int row = 0; row < 31; ++row) {
    screen.MoveCursor(0, row);
    screen.Write(std::string(120, 'x'));
  }
  emulator.Play(renderer.Render(screen, 120, 31));
  screen.SetAttribute(kDefaultAttribute);
  screen.Clear();
  screen.MoveCursor(50, 7);
  screen.SetAttribute(9);
  screen.Write("kept");
  emulator.Play(renderer.Render(screen, 120, 31));
  ExpectSameGlyphs(screen, emulator, 120, 31);
  EXPECT_EQ(emulator.ForegroundAt(50, 7), 12);
}

TEST(ScreenRenderer, SmallTerminalShowsTheTopLeftWithoutScrollingOrWrapping) {
  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  Emulator emulator(40, 10);
  for (int row = 0; row < 31; ++row) {
    screen.MoveCursor(0, row);
    screen.Write(std::string(1, static_cast<char>('A' + row % 26)) + std::string(119, '-'));
  }
  emulator.Play(renderer.Render(screen, 40, 10));
  ExpectSameGlyphs(screen, emulator, 40, 10);
}

}  // namespace
