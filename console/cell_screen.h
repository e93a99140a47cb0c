// The single truth of what the screen shows: a grid of cells, a cursor and the current attribute.
// Every write lands here first; a renderer then brings the terminal up to date from it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

inline constexpr uint16_t kDefaultAttribute = 7;  // light grey on black: the console's own look

// The glyph of the cell right of a wide character, which the character covers on the terminal.
inline constexpr char32_t kWideRightHalf = 0xFFFFFFFF;

struct Cell {
  char32_t glyph = U' ';
  uint16_t attribute = kDefaultAttribute;
  friend bool operator==(const Cell&, const Cell&) = default;
};

class CellScreen {
 public:
  // The most a screen holds, whatever the window's size: room to spare around the layouts and the
  // echo of a long line, in 1 MB, when a terminal may claim 65535 by 65535. A bigger window shows
  // the screen in its top-left part.
  static constexpr int kMaxWidth = 512;
  static constexpr int kMaxHeight = 256;

  // Sizes are capped at kMaxWidth by kMaxHeight.
  CellScreen(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int CursorColumn() const { return cursor_column_; }
  int CursorRow() const { return cursor_row_; }
  uint16_t Attribute() const { return attribute_; }
  const Cell& At(int column, int row) const { return cells_[Index(column, row)]; }
  // Goes up with every change of cells or cursor, so a renderer knows when there is nothing new.
  uint64_t Version() const { return version_; }

  // Grows the grid to at least this size, up to the caps; what is already shown stays where it is.
  void GrowTo(int width, int height);

  // A position outside the grid is ignored, as the console ignores it: the next write goes
  // wherever the cursor already is.
  void MoveCursor(int column, int row);
  void SetAttribute(uint16_t attribute) { attribute_ = attribute; }

  // Writes text at the cursor, one cell per character (two for a wide one, which never splits
  // across rows), wrapping at the right edge. A line feed starts the next row; other control
  // characters show as their visible pictures. Rows below the grid are not drawn, and nothing
  // ever scrolls.
  void Write(std::string_view text);
  void Put(char32_t glyph);

  // Sets one cell without moving the cursor, and the right half after it for a wide character;
  // positions outside the grid are dropped. Overwriting part of a wide character blanks the rest.
  void SetCell(int column, int row, Cell cell);
  // Places the cursor anywhere, even below the grid, for a line echo that runs past the bottom.
  void PlaceCursor(int column, int row);

  // Blanks every cell in the current attribute and homes the cursor.
  void Clear();

 private:
  size_t Index(int column, int row) const { return static_cast<size_t>(row) * width_ + column; }
  void AdvanceCursor();
  void Overwrite(int column, int row, Cell cell);

  int width_;
  int height_;
  std::vector<Cell> cells_;
  int cursor_column_ = 0;
  int cursor_row_ = 0;
  uint16_t attribute_ = kDefaultAttribute;
  uint64_t version_ = 0;
};
