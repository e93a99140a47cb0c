#include "console/glyph_block.h"

bool GlyphBlock::Add(int column, int row, BlockCell cell) {
  if (cells_.empty()) {
    left_ = column;
    top_ = row;
    width_ = 0;
  } else {
    const int row_length = next_column_ - left_;
    const bool continues_row =
        row == next_row_ && column == next_column_ && (width_ == 0 || row_length < width_);
    const bool starts_next_row =
        row == next_row_ + 1 && column == left_ && (width_ == 0 || row_length == width_);
    if (!continues_row && !starts_next_row) return false;
    if (starts_next_row && width_ == 0) width_ = row_length;
  }
  cells_.push_back(cell);
  next_column_ = column + 1;
  next_row_ = row;
  return true;
}
