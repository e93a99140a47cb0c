// Brings a terminal up to date with a cell screen. It remembers what the terminal shows and sends
// only the cells that differ, as ECMA-48 sequences in one string, so each screen reaches the
// terminal in a single write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/charset.h"
#include "console/screen/cell_screen.h"

class ScreenRenderer {
 public:
  // Blank runs at least this long are erased (ECH) rather than written as spaces, as far as the
  // terminal shows no wide character in them.
  static constexpr int kShortestErasedRun = 12;

  // Characters go out in the terminal's character set, UTF-8 unless told otherwise.
  explicit ScreenRenderer(const Charset& charset = {}) : characters_(charset) {}

  // The terminal's content is unknown (first draw, resize, resume): repaint everything next time.
  void Invalidate() { valid_ = false; }
  // The bytes that make a terminal of the given size show the top-left part of the screen, the
  // same screen every time. Where the terminal is bigger than the screen it stays blank.
  std::string Render(const CellScreen& screen, int columns, int rows);

 private:
  void RepaintFromBlank(const CellScreen& screen, int columns, int rows, std::string& out);
  void RenderRow(const CellScreen& screen, int row, int columns, std::string& out);
  bool RewriteGap(const CellScreen& screen, int row, int column, int next, std::string& out);
  void EraseCells(int column, int row, int count, std::string& out);
  static std::string CursorPosition(int column, int row);
  void MoveTo(int column, int row, std::string& out);
  void SetPen(uint16_t attribute, std::string& out);
  Cell& Shown(int column, int row) {
    return shown_[static_cast<size_t>(row) * shown_columns_ + column];
  }

  bool valid_ = false;
  int columns_ = 0;  // the terminal's size
  int rows_ = 0;
  // What the terminal shows now, where the screen covers it: never more than the screen holds,
  // however big the terminal.
  int shown_columns_ = 0;
  int shown_rows_ = 0;
  std::vector<Cell> shown_;
  uint16_t pen_ = kDefaultAttribute;
  int cursor_column_ = -1;  // where the terminal's cursor is; -1 when unknown
  int cursor_row_ = -1;
  int moves_ = 0;                  // cursor moves in the current render
  uint64_t marks_generation_ = 0;  // of the screen's marks the terminal shows
  uint64_t cells_version_ = 0;     // of the screen's cells the terminal shows
  TerminalCharacters characters_;
};
