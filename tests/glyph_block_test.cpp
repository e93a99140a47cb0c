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
  int left, top, width, full_rows;
};

TEST(GlyphBlock, TakesCellsOnlyInReadingOrderOfOneRectangle) {
  const BlockCase cases[] = {
      {"a frame, row by row", {{2, 1}, {3, 1}, {4, 1}, {2, 2}, {3, 2}, {4, 2}}, 6, 2, 1, 3, 2},
      {"a shorter last row", {{0, 0}, {1, 0}, {2, 0}, {0, 1}}, 4, 0, 0, 3, 1},
      {"a gap in a row", {{0, 0}, {2, 0}}, 1, 0, 0, 1, 1},
      {"a row longer than the first", {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 1}}, 4, 0, 0, 2, 2},
      {"a row started early", {{0, 0}, {1, 0}, {0, 1}, {0, 2}}, 3, 0, 0, 2, 1},
      {"a row started in another column", {{1, 0}, {2, 0}, {0, 1}}, 2, 1, 0, 2, 1},
      {"a row skipped", {{0, 0}, {0, 2}}, 1, 0, 0, 1, 1},
      {"a step back", {{1, 0}, {0, 0}}, 1, 1, 0, 1, 1},
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
    EXPECT_EQ(block.Left(), c.left);
    EXPECT_EQ(block.Top(), c.top);
    EXPECT_EQ(block.Width(), c.width);
    EXPECT_EQ(block.FullRows(), c.full_rows);
    ASSERT_EQ(block.Cells().size(), joined);
    EXPECT_EQ(block.Cells().back().attribute, joined - 1);  // each cell keeps its own attribute
  }
}

}  // namespace
