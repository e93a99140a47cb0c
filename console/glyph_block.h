// Frame glyphs are drawn one cell at a time. A console that can write a whole rectangle of cells
// at once (the Windows console) gathers them here, so a frame reaches the screen in one call
// instead of thousands. Cells join only in reading order, so the block is always complete rows
// of one width, then at most one shorter row: putting it on screen replaces exactly the cells
// that were drawn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct BlockCell {
  char32_t glyph;
  uint16_t attribute;
};

class GlyphBlock {
 public:
  // Adds the cell drawn at (column, row) when it continues the block in reading order. False
  // when it does not: the block must then be put on screen and cleared first.
  bool Add(int column, int row, BlockCell cell);
  void Clear() { cells_.clear(); }

  bool Empty() const { return cells_.empty(); }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_ != 0 ? width_ : static_cast<int>(cells_.size()); }
  // Rows filled to the block's width; the cells after them form a shorter last row.
  int FullRows() const { return static_cast<int>(cells_.size()) / Width(); }
  const std::vector<BlockCell>& Cells() const { return cells_; }

 private:
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;  // set when the second row starts; until then the block is one growing row
  int next_column_ = 0;
  int next_row_ = 0;
  std::vector<BlockCell> cells_;
};
