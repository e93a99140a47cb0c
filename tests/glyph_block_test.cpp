// Glyphs join a block only while it stays complete rows of one width and then one shorter row,
// so putting the block on screen replaces exactly the cells that were drawn.
#include "console/glyph_block.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

struct BlockCase {
  const char* what;
  std::vector<std::pair<int, int>> cells;  // (column, row), in the order drawn
  size_t joined;                           // how many join before one is refused
  struct {
    int left, top, width, full_rows;
  } block;  // what the joined cells make
};

TEST(GlyphBlock, TakesCellsOnlyInReadingOrderOfOneRectangle) {
  const BlockCase cases[] = {
      {.what = "a frame, row by row",
       .cells = {{2, 1}, {3, 1}, {4, 1}, {2, 2}, {3, 2}, {4, 2}},
       .joined = 6,
       .block = {.left = 2, .top = 1, .width = 3, .full_rows = 2}},
      {.what = "a shorter last row",
       .cells = {{0, 0}, {1, 0}, {2, 0}, {0, 1}},
       .joined = 4,
       .block = {.left = 0, .top = 0, .width = 3, .full_rows = 1}},
      {.what = "a gap in a row",
       .cells = {{0, 0}, {2, 0}},
       .joined = 1,
       .block = {.left = 0, .top = 0, .width = 1, .full_rows = 1}},
      {.what = "a row longer than the first",
       .cells = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 1}},
       .joined = 4,
       .block = {.left = 0, .top = 0, .width = 2, .full_rows = 2}},
      {.what = "a row started early",
       .cells = {{0, 0}, {1, 0}, {0, 1}, {0, 2}},
       .joined = 3,
       .block = {.left = 0, .top = 0, .width = 2, .full_rows = 1}},
      {.what = "a row started in another column",
       .cells = {{1, 0}, {2, 0}, {0, 1}},
       .joined = 2,
       .block = {.left = 1, .top = 0, .width = 2, .full_rows = 1}},
      {.what = "a row skipped",
       .cells = {{0, 0}, {0, 2}},
       .joined = 1,
       .block = {.left = 0, .top = 0, .width = 1, .full_rows = 1}},
      {.what = "a step back",
       .cells = {{1, 0}, {0, 0}},
       .joined = 1,
       .block = {.left = 1, .top = 0, .width = 1, .full_rows = 1}},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.what);
    GlyphBlock block;
    size_t joined = 0;
    while (joined < c.cells.size() &&
           block.Add(c.cells[joined].first, c.cells[joined].second, {U'═', uint16_t(joined)})) {
      ++joined;
    }
    EXPECT_EQ(joined, c.joined);
    EXPECT_EQ(block.Left(), c.block.left);
    EXPECT_EQ(block.Top(), c.block.top);
    EXPECT_EQ(block.Width(), c.block.width);
    EXPECT_EQ(block.FullRows(), c.block.full_rows);
    ASSERT_EQ(block.Cells().size(), joined);
    EXPECT_EQ(block.Cells().back().attribute, joined - 1);  // each cell keeps its own attribute
  }
}

}  // namespace
