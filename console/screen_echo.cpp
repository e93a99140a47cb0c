#include "console/screen_echo.h"

#include "console/utf8.h"

namespace {

int WidthOf(std::string_view utf8) {
  return CellWidth(VisibleCodepoint(DecodeUtf8(utf8).codepoint));
}

}  // namespace

ScreenEcho::ScreenEcho(CellScreen& screen, const int& wrap_width)
    : screen_(screen), wrap_width_(wrap_width), end_{screen.CursorColumn(), screen.CursorRow()} {}

void ScreenEcho::ShowCharacter(std::string_view utf8) {
  const char32_t glyph = VisibleCodepoint(DecodeUtf8(utf8).codepoint);
  const int width = CellWidth(glyph);
  if (end_.column + width > wrap_width_) {
    wraps_.push_back({shown_, end_});
    end_ = {0, end_.row + 1};
  }
  screen_.SetCell(end_.column, end_.row, Cell{glyph, screen_.Attribute()});
  end_.column += width;
  ++shown_;
  // Like the console, the cursor moves to the next row as soon as this one is full.
  if (end_.column + 1 > wrap_width_) {
    screen_.PlaceCursor(0, end_.row + 1);
  } else {
    screen_.PlaceCursor(end_.column, end_.row);
  }
}

void ScreenEcho::EraseLastCharacter(std::string_view utf8) {
  if (shown_ == 0) return;
  --shown_;
  const Position at = {end_.column - WidthOf(utf8), end_.row};
  end_ = at;
  if (!wraps_.empty() && wraps_.back().character == shown_) {
    end_ = wraps_.back().end;
    wraps_.pop_back();
  }
  screen_.SetCell(at.column, at.row, Cell{U' ', screen_.Attribute()});
  screen_.PlaceCursor(at.column, at.row);
}
