#include "console/screen_echo.h"

#include "console/utf8.h"

ScreenEcho::ScreenEcho(CellScreen& screen, const int& wrap_width)
    : screen_(screen), wrap_width_(wrap_width), start_{screen.CursorColumn(), screen.CursorRow()} {}

ScreenEcho::Position ScreenEcho::NextPosition(int width) const {
  Position next = start_;
  if (!echoed_.empty()) {
    const Echoed& last = echoed_.back();
    next = {last.at.column + (last.wide ? 2 : 1), last.at.row};
  }
  if (next.column + width > wrap_width_) next = {0, next.row + 1};
  return next;
}

void ScreenEcho::ShowCharacter(std::string_view utf8) {
  const char32_t glyph = VisibleCodepoint(DecodeUtf8(utf8).codepoint);
  const int width = CellWidth(glyph);
  const Position at = NextPosition(width);
  screen_.SetCell(at.column, at.row, Cell{glyph, screen_.Attribute()});
  echoed_.push_back({at, width == 2});
  const Position cursor = NextPosition(1);
  screen_.PlaceCursor(cursor.column, cursor.row);
}

void ScreenEcho::EraseLastCharacter(std::string_view) {
  if (echoed_.empty()) return;
  const Position last = echoed_.back().at;
  echoed_.pop_back();
  screen_.SetCell(last.column, last.row, Cell{U' ', screen_.Attribute()});
  screen_.PlaceCursor(last.column, last.row);
}
