#include "console/frame.h"

namespace {

constexpr std::array<ConsoleGlyph, 256> MakeGlyphTable() {
  std::array<ConsoleGlyph, 256> table{};
  table.fill(ConsoleGlyph{0x20, U' '});
  table['1'] = {0xBA, U'║'};
  table['2'] = {0xCD, U'═'};
  table['3'] = {0xC9, U'╔'};
  table['4'] = {0xBB, U'╗'};
  table['5'] = {0xC8, U'╚'};
  table['6'] = {0xBC, U'╝'};
  table['7'] = {0xB6, U'╢'};
  table['8'] = {0xC7, U'╟'};
  table['9'] = {0xC4, U'─'};
  return table;
}

// Both frames share one shape: a double top edge, a title band, a single rule, the body and a
// double bottom edge. `codes` is how many codes of each row are set; the rest stay zero.
template <size_t Rows, size_t Columns>
constexpr FrameTemplate<Rows, Columns> MakeFrame(size_t codes) {
  FrameTemplate<Rows, Columns> frame{};
  auto set_row = [&frame, codes](size_t row, char left, char middle, char right) {
    frame[row][0] = left;
    for (size_t column = 1; column + 1 < codes; ++column) frame[row][column] = middle;
    frame[row][codes - 1] = right;
  };
  set_row(0, '3', '2', '4');
  set_row(1, '1', ' ', '1');
  set_row(2, '8', '9', '7');
  for (size_t row = 3; row + 1 < Rows; ++row) set_row(row, '1', ' ', '1');
  set_row(Rows - 1, '5', '2', '6');
  return frame;
}

template <size_t Rows, size_t Columns>
void DrawFrame(const FrameTemplate<Rows, Columns>& frame) {
  for (size_t row = 0; row < Rows; ++row) {
    for (size_t column = 0; column < Columns; ++column) {
      MoveCursor(static_cast<int>(column), static_cast<int>(row));
      WriteGlyph(GlyphForCode[static_cast<unsigned char>(frame[row][column])]);
    }
  }
}

}  // namespace

constexpr std::array<ConsoleGlyph, 256> GlyphForCode = MakeGlyphTable();
constexpr FrameTemplate<9, 48> BoxFrame = MakeFrame<9, 48>(48);
constexpr FrameTemplate<kScreenFrameRows, kLayoutColumns> ScreenFrame =
    MakeFrame<kScreenFrameRows, kLayoutColumns>(kLayoutColumns - 1);

void DrawBoxFrame() {
  DrawFrame(BoxFrame);
}

void DrawScreenFrame() {
  DrawFrame(ScreenFrame);
}
