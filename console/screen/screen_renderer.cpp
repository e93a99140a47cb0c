#include "console/screen/screen_renderer.h"

#include <algorithm>

#include "console/escape_sequences.h"
#include "console/utf8.h"

namespace {

int Foreground(uint16_t attribute) {
  return attribute & 0x0F;
}
int Background(uint16_t attribute) {
  return (attribute >> 4) & 0x0F;
}

// A blank cell looks the same whatever its foreground colour.
Cell AsSeen(Cell cell) {
  if (cell.glyph == U' ' && cell.marks == 0)
    cell.attribute = (cell.attribute & 0xF0) | kDefaultAttribute;
  return cell;
}

// Characters every terminal shows one cell wide. Others (East Asian, emoji, combining marks) may
// take two cells or none, so the cursor is placed afresh after them and the rest stays in place.
bool IsSurelySingleWidth(char32_t glyph) {
  return glyph < 0x300 || (glyph >= 0x370 && glyph < 0x1100) ||
         (glyph >= 0x2400 && glyph < 0x2440) || (glyph >= 0x2500 && glyph < 0x2600) ||
         glyph == 0xFFFD;
}

// Either half of a wide character.
bool ShowsWide(const Cell& cell) {
  return cell.glyph == kWideRightHalf || CellWidth(cell.glyph) == 2;
}

bool IsPlainBlank(const Cell& cell) {
  return cell.glyph == U' ' && cell.marks == 0 && Background(cell.attribute) == 0;
}

}  // namespace

std::string ScreenRenderer::Render(const CellScreen& screen, int columns, int rows) {
  std::string out;
  // Renumbered marks no longer say which marks the terminal shows.
  const bool repaint = !valid_ || columns != columns_ || rows != rows_ ||
                       screen.MarksGeneration() != marks_generation_ ||
                       std::min(columns, screen.Width()) != shown_columns_ ||
                       std::min(rows, screen.Height()) != shown_rows_;
  if (repaint) RepaintFromBlank(screen, columns, rows, out);
  moves_ = 0;
  // Each render leaves every row as the screen has it: with no cell changed since, as while a
  // paste runs on below the window, only the cursor may have moved.
  if (repaint || screen.CellsVersion() != cells_version_) {
    for (int row = 0; row < shown_rows_; ++row) RenderRow(screen, row, columns, out);
  }
  cells_version_ = screen.CellsVersion();
  characters_.Finish(out);
  // Hiding the cursor keeps it from flickering across the screen while the cells are drawn;
  // text typed at the cursor needs no such care.
  const bool jumps = moves_ > 0;
  const int cursor_column = std::clamp(screen.CursorColumn(), 0, shown_columns_ - 1);
  const int cursor_row = std::clamp(screen.CursorRow(), 0, shown_rows_ - 1);
  MoveTo(cursor_column, cursor_row, out);
  if (jumps) {
    out.insert(0, escape::kHideCursor);
    out += escape::kShowCursor;
  }
  return out;
}

void ScreenRenderer::RepaintFromBlank(const CellScreen& screen, int columns, int rows,
                                      std::string& out) {
  out += escape::kResetAttributes;
  out += escape::kCursorHome;
  out += escape::kEraseScreen;
  columns_ = columns;
  rows_ = rows;
  shown_columns_ = std::min(columns, screen.Width());
  shown_rows_ = std::min(rows, screen.Height());
  shown_.assign(static_cast<size_t>(shown_columns_) * shown_rows_, Cell{});
  pen_ = kDefaultAttribute;
  cursor_column_ = 0;
  cursor_row_ = 0;
  marks_generation_ = screen.MarksGeneration();
  valid_ = true;
}

void ScreenRenderer::RenderRow(const CellScreen& screen, int row, int columns, std::string& out) {
  const int visible_columns = shown_columns_;
  auto wanted_at = [&](int column) { return AsSeen(screen.At(column, row)); };
  // The right half of a wide character is drawn with its left half, never on its own.
  auto changed = [&](int column) {
    const Cell wanted = wanted_at(column);
    return wanted.glyph != kWideRightHalf && Shown(column, row) != wanted;
  };
  int last_non_blank = visible_columns - 1;
  while (last_non_blank >= 0 && IsPlainBlank(screen.At(last_non_blank, row))) --last_non_blank;
  int column = 0;
  while (column < visible_columns) {
    if (!changed(column)) {
      int next = column + 1;
      while (next < visible_columns && !changed(next)) ++next;
      if (next == visible_columns) return;
      if (!RewriteGap(screen, row, column, next, out)) column = next;
      continue;
    }
    // When the rest of the row is blank, one erase does what many spaces would.
    if (column > last_non_blank && visible_columns == columns) {
      MoveTo(column, row, out);
      SetPen(kDefaultAttribute, out);
      out += escape::kEraseToLineEnd;
      std::fill_n(&Shown(column, row), visible_columns - column, Cell{});
      return;
    }
    const Cell wanted = wanted_at(column);
    if (IsPlainBlank(wanted)) {
      int blank_end = column + 1;
      while (blank_end < visible_columns && IsPlainBlank(wanted_at(blank_end))) ++blank_end;
      while (!changed(blank_end - 1)) --blank_end;
      // Some terminals (mlterm) leave a wide character standing in an erased run, so a run is
      // erased only up to the first one the terminal shows; that one gets spaces.
      int wide_shown = column;
      while (wide_shown < blank_end && !ShowsWide(Shown(wide_shown, row))) ++wide_shown;
      blank_end = wide_shown;
      if (blank_end - column >= kShortestErasedRun) {
        EraseCells(column, row, blank_end - column, out);
        column = blank_end;
        continue;
      }
    }
    // A wide character cut by the right edge would wrap on the terminal: a blank stands for it.
    const int width = CellWidth(wanted.glyph);
    const bool fits = column + width <= columns;
    MoveTo(column, row, out);
    SetPen(wanted.attribute, out);
    characters_.Append(out, fits ? wanted.glyph : U' ', fits ? width : 1);
    // The marks go in the same write as their character, which they join on the terminal.
    if (fits) {
      for (const char32_t mark : screen.Marks(wanted)) characters_.AppendMark(out, mark);
    }
    Shown(column, row) = wanted;
    if (width == 2 && fits) Shown(column + 1, row) = screen.At(column + 1, row);
    column += fits ? width : 1;
    // After the last column the terminal's cursor waits to wrap; its position is not to be trusted.
    const bool trusted = column < columns && IsSurelySingleWidth(wanted.glyph) && wanted.marks == 0;
    cursor_column_ = trusted ? column : -1;
  }
}

// Cells that already show the right thing, between the cursor and the next change, are sent
// again when that takes fewer bytes than moving the cursor past them. False: move instead.
bool ScreenRenderer::RewriteGap(const CellScreen& screen, int row, int column, int next,
                                std::string& out) {
  if (column != cursor_column_ || row != cursor_row_) return false;
  std::string gap;
  TerminalCharacters characters = characters_;
  for (int c = column; c < next; ++c) {
    const Cell cell = AsSeen(screen.At(c, row));
    const bool same_look = cell.attribute == pen_ ||
                           (cell.glyph == U' ' && Background(cell.attribute) == Background(pen_));
    if (!same_look || !IsSurelySingleWidth(cell.glyph) || cell.marks != 0) return false;
    characters.Append(gap, cell.glyph, 1);
  }
  if (gap.size() >= CursorPosition(next, row).size()) return false;
  out += gap;
  characters_ = characters;
  cursor_column_ = next;
  return true;
}

// Blanks a run of cells with one erase; the cursor stays where it was.
void ScreenRenderer::EraseCells(int column, int row, int count, std::string& out) {
  MoveTo(column, row, out);
  if (Background(pen_) != 0) SetPen(kDefaultAttribute, out);
  out += escape::kCsi;
  out += std::to_string(count);
  out += escape::kEraseCharactersFinal;
  std::fill_n(&Shown(column, row), count, Cell{});
}

std::string ScreenRenderer::CursorPosition(int column, int row) {
  std::string sequence(escape::kCsi);
  sequence += std::to_string(row + 1);
  if (column > 0) sequence += ';' + std::to_string(column + 1);
  return sequence + escape::kCursorPositionFinal;
}

void ScreenRenderer::MoveTo(int column, int row, std::string& out) {
  if (column == cursor_column_ && row == cursor_row_) return;
  out += CursorPosition(column, row);
  cursor_column_ = column;
  cursor_row_ = row;
  ++moves_;
}

void ScreenRenderer::SetPen(uint16_t attribute, std::string& out) {
  if (attribute == pen_) return;
  std::string parameters;
  if (Foreground(attribute) != Foreground(pen_)) {
    parameters += std::to_string(escape::kForegroundSgr[Foreground(attribute)]);
  }
  if (Background(attribute) != Background(pen_)) {
    if (!parameters.empty()) parameters += ';';
    parameters += std::to_string(escape::kBackgroundSgr[Background(attribute)]);
  }
  out += escape::kCsi;
  out += parameters;
  out += escape::kSgrFinal;
  pen_ = attribute;
}
