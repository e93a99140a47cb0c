#include "console/cell_screen.h"

#include <algorithm>

#include "console/utf8.h"

CellScreen::CellScreen(int width, int height)
    : width_(std::min(width, kMaxWidth)),
      height_(std::min(height, kMaxHeight)),
      cells_(static_cast<size_t>(width_) * height_) {}

void CellScreen::GrowTo(int width, int height) {
  const int new_width = std::clamp(width, width_, kMaxWidth);
  const int new_height = std::clamp(height, height_, kMaxHeight);
  if (new_width == width_ && new_height == height_) return;
  std::vector<Cell> grown(static_cast<size_t>(new_width) * new_height);
  for (int row = 0; row < height_; ++row) {
    std::copy_n(cells_.begin() + static_cast<long>(Index(0, row)), width_,
                grown.begin() + static_cast<long>(row) * new_width);
  }
  cells_ = std::move(grown);
  ++version_;
  width_ = new_width;
  height_ = new_height;
}

void CellScreen::MoveCursor(int column, int row) {
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
  cursor_column_ = column;
  cursor_row_ = row;
  ++version_;
}

void CellScreen::PlaceCursor(int column, int row) {
  cursor_column_ = std::clamp(column, 0, width_ - 1);
  cursor_row_ = std::max(row, 0);
  ++version_;
}

void CellScreen::Write(std::string_view text) {
  ++version_;
  while (!text.empty()) {
    if (text.front() == '\n') {
      cursor_column_ = 0;
      ++cursor_row_;
      text.remove_prefix(1);
      continue;
    }
    const Utf8Character character = DecodeUtf8(text);
    Put(VisibleCodepoint(character.codepoint));
    text.remove_prefix(character.length);
  }
}

void CellScreen::Put(char32_t glyph) {
  const int width = CellWidth(glyph);
  if (width == 2 && cursor_column_ + 1 >= width_) AdvanceCursor();
  SetCell(cursor_column_, cursor_row_, Cell{glyph, attribute_});
  for (int cell = 0; cell < width; ++cell) AdvanceCursor();
}

void CellScreen::SetCell(int column, int row, Cell cell) {
  ++version_;
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
  const bool wide = CellWidth(cell.glyph) == 2;
  if (wide && column + 1 >= width_) cell.glyph = U' ';  // no room for its right half
  Overwrite(column, row, cell);
  if (cell.glyph != U' ' && wide) Overwrite(column + 1, row, Cell{kWideRightHalf, cell.attribute});
}

void CellScreen::Overwrite(int column, int row, Cell cell) {
  Cell& target = cells_[Index(column, row)];
  if (target.glyph == kWideRightHalf) cells_[Index(column - 1, row)].glyph = U' ';
  if (column + 1 < width_ && cells_[Index(column + 1, row)].glyph == kWideRightHalf) {
    cells_[Index(column + 1, row)].glyph = U' ';
  }
  target = cell;
}

void CellScreen::Clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{U' ', attribute_});
  ++version_;
  cursor_column_ = 0;
  cursor_row_ = 0;
}

void CellScreen::AdvanceCursor() {
  if (++cursor_column_ < width_) return;
  cursor_column_ = 0;
  ++cursor_row_;
}
