// Echo of a typed line onto the cell screen, as a console echoes: from the cursor, in the current
// attribute, wrapping at the terminal's right edge. Erasing goes back across wrapped rows too.
#pragma once

#include <cstddef>
#include <vector>

#include "console/cell_screen.h"
#include "console/line_editor.h"

class ScreenEcho : public LineEcho {
 public:
  // wrap_width is read at every character, so a resize while typing wraps at the new edge.
  ScreenEcho(CellScreen& screen, const int& wrap_width);

  void ShowCharacter(std::string_view utf8) override;
  void EraseLastCharacter() override;
  void EndLine() override {}

 private:
  struct Position {
    int column;
    int row;
  };
  // A run of echoed characters that share one screen row.
  struct EchoRow {
    size_t first_character;
    Position start;
  };

  Position PositionOfLast() const;
  Position NextPosition() const;

  CellScreen& screen_;
  const int& wrap_width_;
  Position start_;
  std::vector<EchoRow> rows_;
  size_t characters_ = 0;
};
