// The renderer sends only what changed, erasing blank runs and skipping cells already right. A
// terminal emulator fed everything it sent must show exactly the cell screen, step after step.
#include "console/screen/screen_renderer.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <random>
#include <string>

#include "console/screen/cell_screen.h"
#include "console/utf8.h"

namespace {

// The palette index a console colour shows as, or -1 for the terminal's default colour.
int PaletteIndex(int colour, int default_colour) {
  if (colour == default_colour) return -1;
  return ((colour & 1) << 2) | (colour & 2) | ((colour & 4) >> 2) | (colour & 8);
}

int IndexOf(const VTermColor& colour) {
  if (VTERM_COLOR_IS_DEFAULT_FG(&colour) || VTERM_COLOR_IS_DEFAULT_BG(&colour)) return -1;
  return VTERM_COLOR_IS_INDEXED(&colour) ? colour.indexed.idx : -2;
}

class Emulator {
 public:
  Emulator(int columns, int rows) : vterm_(vterm_new(rows, columns)) {
    vterm_set_utf8(vterm_, 1);
    vterm_screen_reset(vterm_obtain_screen(vterm_), 1);
  }
  ~Emulator() { vterm_free(vterm_); }
  void Resize(int columns, int rows) { vterm_set_size(vterm_, rows, columns); }
  // Feeds the bytes; an erase by count (ECH) over a wide character is noted as a mismatch, since
  // some terminals (mlterm) leave the character standing.
  void Feed(std::string_view bytes) {
    for (size_t erase; (erase = bytes.find("\x1b[")) != std::string_view::npos;) {
      const size_t end = bytes.find_first_not_of("0123456789", erase + 2);
      vterm_input_write(vterm_, bytes.data(), erase);
      if (end != std::string_view::npos && bytes[end] == 'X' && wide_erased_.empty()) {
        VTermPos cursor{};
        vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &cursor);
        const std::string digits(bytes.substr(erase + 2, end - erase - 2));
        const int count = digits.empty() ? 1 : std::stoi(digits);
        for (VTermPos at = cursor; at.col < cursor.col + count; ++at.col) {
          VTermScreenCell cell{};
          vterm_screen_get_cell(vterm_obtain_screen(vterm_), at, &cell);
          if (cell.width == 2 || cell.chars[0] == 0xFFFFFFFF) {
            wide_erased_ = "a wide character erased by count at " + std::to_string(at.col) + "," +
                           std::to_string(at.row);
          }
        }
      }
      vterm_input_write(vterm_, bytes.data() + erase, 2);
      bytes.remove_prefix(erase + 2);
    }
    vterm_input_write(vterm_, bytes.data(), bytes.size());
  }

  // Describes the first cell that differs from the screen, or returns "" when all match.
  std::string Mismatch(const CellScreen& screen, int columns, int rows) {
    if (!wide_erased_.empty()) return wide_erased_;
    for (int row = 0; row < rows && row < screen.Height(); ++row) {
      for (int column = 0; column < columns && column < screen.Width(); ++column) {
        VTermScreenCell shown{};
        vterm_screen_get_cell(vterm_obtain_screen(vterm_), VTermPos{row, column}, &shown);
        const char32_t glyph = shown.chars[0] == 0 ? U' ' : shown.chars[0];
        std::u32string marks;
        for (int i = 1;
             i < VTERM_MAX_CHARS_PER_CELL && shown.chars[i] != 0 && glyph != kWideRightHalf; ++i) {
          marks += static_cast<char32_t>(shown.chars[i]);
        }
        Cell wanted = screen.At(column, row);
        std::u32string_view wanted_marks = screen.Marks(wanted);
        // A wide character cut by the terminal's right edge shows as a blank.
        if (CellWidth(wanted.glyph) == 2 && column + 1 == columns) {
          wanted.glyph = U' ';
          wanted_marks = {};
        }
        // The emulator keeps no colours for a wide character's right half, and a blank shows
        // no foreground.
        const bool coloured = wanted.glyph != kWideRightHalf;
        const bool has_foreground = coloured && wanted.glyph != U' ';
        if (glyph != wanted.glyph || marks != wanted_marks ||
            (coloured && IndexOf(shown.bg) != PaletteIndex(wanted.attribute >> 4, 0)) ||
            (has_foreground && IndexOf(shown.fg) != PaletteIndex(wanted.attribute & 0x0F, 7))) {
          return "cell " + std::to_string(column) + "," + std::to_string(row) + " shows U+" +
                 std::to_string(glyph) + " in " + std::to_string(IndexOf(shown.fg)) + " on " +
                 std::to_string(IndexOf(shown.bg)) + ", not U+" + std::to_string(wanted.glyph) +
                 " in attribute " + std::to_string(wanted.attribute);
        }
      }
    }
    VTermPos cursor{};
    vterm_state_get_cursorpos(vterm_obtain_state(vterm_), &cursor);
    if (cursor.col != std::min(screen.CursorColumn(), columns - 1) ||
        cursor.row != std::min(screen.CursorRow(), rows - 1)) {
      return "cursor";
    }
    return "";
  }

 private:
  VTerm* vterm_;
  std::string wide_erased_;
};

// Random changes of the kinds the screens make: text, wide characters, emoji, marks and frame
// glyphs in several colours, runs of blanks, coloured bands; now and then a resize, a redraw
// from scratch, only a mark added, or only the cursor moved (as while a paste runs on below the
// window).
// The screen grows with the terminal up to 130 by 40, so that a bigger terminal shows it in its
// top-left part, as a window bigger than the screen's caps does.
TEST(ScreenRenderer, TheTerminalShowsExactlyTheCellScreenAfterEveryRender) {
  constexpr char32_t kGlyphs[] = {U' ', U' ', U' ', U'a',  U'Q', U'é',
                                  U'═', U'║', U'╔', U'日', U'🎉', U'\u0301'};
  constexpr uint16_t kAttributes[] = {7, 7, 0x0C, 0x09, 0x0F, 0x1F, 0x70, 0x4E, 0x02};
  constexpr int kSizes[][2] = {{120, 31}, {80, 24}, {130, 40}, {30, 8}, {150, 50}};
  std::mt19937 random(20261206);
  auto pick = [&](int count) { return static_cast<int>(random() % static_cast<unsigned>(count)); };

  CellScreen screen(120, 31);
  ScreenRenderer renderer;
  int columns = 120;
  int rows = 31;
  Emulator emulator(columns, rows);
  for (int step = 0; step < 2000; ++step) {
    if (pick(25) == 0) {
      const auto& size = kSizes[pick(std::size(kSizes))];
      columns = size[0];
      rows = size[1];
      screen.GrowTo(std::min(columns, 130), std::min(rows, 40));
      emulator.Resize(columns, rows);
    }
    if (pick(40) == 0) renderer.Invalidate();
    for (int change = pick(8) - 1; change >= 0; --change) {
      const int row = pick(screen.Height());
      const int column = pick(screen.Width());
      const int length = pick(2) ? 1 + pick(8) : pick(screen.Width() - column + 1);
      const char32_t glyph = kGlyphs[pick(std::size(kGlyphs))];
      const uint16_t attribute = kAttributes[pick(std::size(kAttributes))];
      for (int c = column; c < column + length && c < screen.Width(); ++c) {
        screen.SetCell(c, row, {pick(3) ? glyph : kGlyphs[pick(std::size(kGlyphs))], attribute});
        // No more marks than the emulator keeps on a cell.
        while (pick(4) == 0 && screen.Marks(screen.At(c, row)).size() < 4) {
          // Any of the 112 combining diacritical marks: so many different sequences that the
          // screen runs out of numbers for them, several times.
          screen.AddMark(c, row, U'\u0300' + static_cast<char32_t>(pick(112)));
        }
      }
    }
    if (const int row = pick(screen.Height()), column = pick(screen.Width());
        pick(8) == 0 && screen.Marks(screen.At(column, row)).size() < 4) {
      screen.AddMark(column, row, U'\u0300' + static_cast<char32_t>(pick(112)));
    }
    screen.PlaceCursor(pick(screen.Width()), pick(screen.Height()));
    emulator.Feed(renderer.Render(screen, columns, rows));
    ASSERT_EQ(emulator.Mismatch(screen, columns, rows), "") << "step " << step;
  }
}

// Terminals disagree on the cells some characters take (☺, East Asian wide ones, a letter with
// marks), so after one the cursor is placed afresh; after one all show in one cell, it is not.
TEST(ScreenRenderer, PlacesTheCursorAfreshAfterACharacterOfDisputedWidth) {
  const std::pair<std::string, std::string> rows[] = {
      {"\u00e9x", "\u00e9x"},
      {"\u263ax", "\u263a\x1b[1;2Hx"},
      {"\u65e5x", "\u65e5\x1b[1;3Hx"},
      {"e\u0301x", "e\u0301\x1b[1;2Hx"},
  };
  for (const auto& [text, drawn] : rows) {
    CellScreen screen(10, 2);
    screen.Write(text);
    const std::string out = ScreenRenderer().Render(screen, 10, 2);
    EXPECT_NE(out.find(drawn), std::string::npos) << testing::PrintToString(out);
  }
}

}  // namespace
