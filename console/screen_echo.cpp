#include "console/screen_echo.h"

#include "console/utf8.h"

ScreenEcho::ScreenEcho(CellScreen& screen, const int& wrap_width)
    : screen_(screen), wrap_width_(wrap_width), start_{screen.CursorColumn(), screen.CursorRow()} {}

ScreenEcho::Position ScreenEcho::PositionOfLast() const {
  const EchoRow& row = rows_.back();
  return {row.start.column + static_cast<int>(characters_ - 1 - row.first_character),
          row.start.row};
}

ScreenEcho::Position ScreenEcho::NextPosition() const {
  Position next = start_;
  if (characters_ > 0) {
    next = PositionOfLast();
    ++next.column;
  }
  if (next.column >= wrap_width_) next = {0, next.row + 1};
  return next;
}

void ScreenEcho::ShowCharacter(std::string_view utf8) {
  const Position at = NextPosition();
  if (rows_.empty() || at.row != rows_.back().start.row) rows_.push_back({characters_, at});
  screen_.SetCell(at.column, at.row,
                  Cell{VisibleCodepoint(DecodeUtf8(utf8).codepoint), screen_.Attribute()});
  ++characters_;
  const Position cursor = NextPosition();
  screen_.PlaceCursor(cursor.column, cursor.row);
}

void ScreenEcho::EraseLastCharacter() {
  if (characters_ == 0) return;
  const Position last = PositionOfLast();
  screen_.SetCell(last.column, last.row, Cell{U' ', screen_.Attribute()});
  --characters_;
  if (rows_.back().first_character == characters_) rows_.pop_back();
  screen_.PlaceCursor(last.column, last.row);
}
