// Echo of a typed line onto the cell screen, as a console echoes: from the cursor, in the current
// attribute, wrapping at the terminal's right edge; a wide character that does not fit goes to the
// next row whole. Erasing goes back across wrapped rows too.
#pragma once

#include <vector>

#include "console/cell_screen.h"
#include "console/line_editor.h"

class ScreenEcho : public LineEcho {
 public:
  // wrap_width is read at every character, so a resize while typing wraps at the new edge.
  ScreenEcho(CellScreen& screen, const int& wrap_width);

  void ShowCharacter(std::string_view utf8) override;
  void EraseLastCharacter(std::string_view utf8) override;
  void EndLine() override {}

 private:
  struct Position {
    int column;
    int row;
  };
  // Where an echoed character sits, and whether it covers the next cell too.
  struct Echoed {
    Position at;
    bool wide;
  };

  Position NextPosition(int width) const;

  CellScreen& screen_;
  const int& wrap_width_;
  Position start_;
  std::vector<Echoed> echoed_;
};
