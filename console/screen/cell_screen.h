// The single truth of what the screen shows: a grid of cells, a cursor and the current attribute.
// Every write lands here first; a renderer then brings the terminal up to date from it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

// The glyph of the cell right of a wide character, which the character covers on the terminal.
inline constexpr char32_t kWideRightHalf = 0xFFFFFFFF;

struct Cell {
  char32_t glyph = U' ';
  uint16_t attribute = kDefaultAttribute;
  // The marks drawn on the glyph (accents, vowel signs), which take no cell of their own: 0 for
  // none, else their number in the screen's store. Equal numbers are equal marks.
  uint16_t marks = 0;
  friend bool operator==(const Cell&, const Cell&) = default;
};

class CellScreen {
 public:
  // The most a screen holds, whatever the window's size: room to spare around the layouts and the
  // echo of a long line, in 1 MB, when a terminal may claim 65535 by 65535. A bigger window shows
  // the screen in its top-left part.
  static constexpr int kMaxWidth = 512;
  static constexpr int kMaxHeight = 256;
  static constexpr size_t kMaxMarks = 8;

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
  // Goes up with every change of cells alone: while it stays, at most the cursor has moved.
  uint64_t CellsVersion() const { return cells_version_; }
  // The marks drawn on a cell's glyph, in the order they were written.
  std::u32string_view Marks(const Cell& cell) const;
  // Goes up when the marks' numbers change, which makes them mean other marks than before.
  uint64_t MarksGeneration() const { return marks_generation_; }

  // Grows the grid to at least this size, up to the caps; what is already shown stays where it is.
  void GrowTo(int width, int height);

  // A position outside the grid is ignored, as the console ignores it: the next write goes
  // wherever the cursor already is.
  void MoveCursor(int column, int row);
  void SetAttribute(uint16_t attribute) { attribute_ = attribute; }

  // Writes text at the cursor, one cell per character (two for a wide one, which never splits
  // across rows), wrapping at the right edge. A mark joins the character written before it, or
  // stands on kMarkBase right after a cursor move. A line feed starts the next row; other
  // control characters show as their visible pictures. Rows below the grid are not drawn, and
  // nothing ever scrolls.
  void Write(std::string_view text);
  void Put(char32_t glyph);

  // Sets one cell without moving the cursor, and the right half after it for a wide character;
  // positions outside the grid are dropped. Overwriting part of a wide character blanks the rest.
  // A mark given as the glyph stands on kMarkBase.
  void SetCell(int column, int row, Cell cell);
  // Adds a mark to those drawn on the character at (or covering) this cell; nothing outside the
  // grid. Past kMaxMarks a cell shows no more: more marks than any script stacks are not drawn.
  void AddMark(int column, int row, char32_t mark);
  // Places the cursor anywhere, even below the grid, for a line echo that runs past the bottom.
  void PlaceCursor(int column, int row);

  // Blanks every cell in the current attribute and homes the cursor.
  void Clear();

 private:
  size_t Index(int column, int row) const { return static_cast<size_t>(row) * width_ + column; }
  void AdvanceCursor();
  void Overwrite(int column, int row, Cell cell);
  uint16_t NumberMarks(const std::u32string& marks);
  void DropUnusedMarks();

  int width_;
  int height_;
  std::vector<Cell> cells_;
  int cursor_column_ = 0;
  int cursor_row_ = 0;
  uint16_t attribute_ = kDefaultAttribute;
  uint64_t version_ = 0;
  uint64_t cells_version_ = 0;
  // Where the last character was written, for a mark that follows it; -1: a cursor move since.
  int written_column_ = -1;
  int written_row_ = -1;
  // Each different sequence of marks once, numbered from 1, so that cells compare by number. When
  // the numbers run out, those no cell uses any more are dropped and the rest renumbered.
  std::vector<std::u32string> mark_sequences_;
  std::map<std::u32string, uint16_t, std::less<>> mark_numbers_;
  uint64_t marks_generation_ = 0;
};
