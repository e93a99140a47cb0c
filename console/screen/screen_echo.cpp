#include "console/screen/screen_echo.h"

#include <algorithm>
#include <cstdint>

ScreenEcho::ScreenEcho(CellScreen& screen, const int& wrap_width)
    : screen_(screen), wrap_width_(wrap_width), end_{screen.CursorColumn(), screen.CursorRow()} {}

void ScreenEcho::ShowText(std::string_view utf8) {
  bool placed = false;
  while (!utf8.empty() && end_.row < CellScreen::kMaxHeight) {
    const ShownCharacter character = DecodeShown(utf8);
    placed = Show(character) || placed;
    utf8.remove_prefix(character.length);
  }
  if (!utf8.empty()) {
    Skip(utf8);
    placed = true;
  }
  if (!placed) return;
  // Like the console, the cursor moves to the next row as soon as this one is full.
  if (end_.column + 1 > wrap_width_) {
    screen_.PlaceCursor(0, end_.row + 1);
  } else {
    screen_.PlaceCursor(end_.column, end_.row);
  }
}

bool ScreenEcho::Show(const ShownCharacter& character) {
  if (character.cells == 0 && shown_ > 0) {
    screen_.AddMark(end_.column - 1, end_.row, character.glyph);
    return false;
  }
  const int width = std::max(character.cells, 1);
  if (end_.column + width > wrap_width_) {
    if (end_.row < CellScreen::kMaxHeight) wraps_.push_back({shown_, end_});
    end_ = {0, end_.row + 1};
  }
  screen_.SetCell(end_.column, end_.row, Cell{character.glyph, screen_.Attribute()});
  end_.column += width;
  ++shown_;
  return true;
}

// Below every row a screen has, the cells would be dropped and no wrap is kept: what is left is
// counting, and a run of ASCII, one cell a character, is counted at once.
void ScreenEcho::Skip(std::string_view utf8) {
  while (!utf8.empty()) {
    const auto ascii = static_cast<size_t>(
        std::find_if(utf8.begin(), utf8.end(), [](char byte) { return byte & 0x80; }) -
        utf8.begin());
    if (ascii > 0 && wrap_width_ > 0) {
      // The first wraps when the row is full already, the rest each time it fills. (Erasing
      // back across a resize can leave the count left of the row's start: no wrap till it fills.)
      if (end_.column + 1 > wrap_width_) end_ = {0, end_.row + 1};
      const int64_t through = end_.column + static_cast<int64_t>(ascii);
      const int64_t wraps = through > wrap_width_ ? (through - 1) / wrap_width_ : 0;
      end_ = {static_cast<int>(through - wraps * wrap_width_), static_cast<int>(end_.row + wraps)};
      shown_ += ascii;
      utf8.remove_prefix(ascii);
      continue;
    }
    const ShownCharacter character = DecodeShown(utf8);
    utf8.remove_prefix(character.length);
    if (character.cells == 0 && shown_ > 0) continue;
    const int width = std::max(character.cells, 1);
    if (end_.column + width > wrap_width_) end_ = {0, end_.row + 1};
    end_.column += width;
    ++shown_;
  }
}

void ScreenEcho::EraseLastCharacter(std::string_view cluster) {
  // A flag, an emoji sequence or a letter with a spacing vowel sign is more than one glyph.
  while (!cluster.empty() && shown_ > 0) {
    const size_t glyph = LastGlyphLength(cluster);
    EraseLastGlyph(GlyphCells(cluster.substr(cluster.size() - glyph)));
    cluster.remove_suffix(glyph);
  }
}

void ScreenEcho::EraseLastGlyph(int cells) {
  --shown_;
  const Position at = {end_.column - cells, end_.row};
  end_ = at;
  if (!wraps_.empty() && wraps_.back().glyph == shown_) {
    end_ = wraps_.back().end;
    wraps_.pop_back();
  } else if (at.column <= 0 && at.row > CellScreen::kMaxHeight && shown_ > 0) {
    // A wrap below every row a screen shows, not kept: where that row ended matters only to the
    // cursor, which the screen shows in its last row.
    end_ = {wrap_width_, at.row - 1};
  }
  screen_.SetCell(at.column, at.row, Cell{U' ', screen_.Attribute()});
  screen_.PlaceCursor(at.column, at.row);
}
