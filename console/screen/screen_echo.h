// Echo of a typed line onto the cell screen, as a console echoes: from the cursor, in the current
// attribute, wrapping at the terminal's right edge; a wide character that does not fit goes to the
// next row whole, and a mark joins the character before it. Erasing goes back across wrapped
// rows too, glyph by glyph.
#pragma once

#include <cstddef>
#include <vector>

#include "console/input/line_editor.h"
#include "console/screen/cell_screen.h"
#include "console/utf8.h"

class ScreenEcho : public LineEcho {
 public:
  // wrap_width is read at every character, so a resize while typing wraps at the new edge.
  ScreenEcho(CellScreen& screen, const int& wrap_width);

  void ShowText(std::string_view utf8) override;
  void EraseLastCharacter(std::string_view cluster) override;
  void EndLine() override {}

 private:
  struct Position {
    int column;
    int row;
  };
  // A row wrap: which glyph went first on the new row, and where the row before it ended. The
  // end is not always the wrap width: a wide character that did not fit leaves a gap, and a
  // resize moves the edge. Only wraps into rows a screen can show are kept, at most
  // CellScreen::kMaxHeight: a pasted line costs no memory per character in any window.
  struct Wrap {
    size_t glyph;
    Position end;
  };

  // Shows one character, but for the cursor; false for a mark that joins the glyph before it.
  bool Show(const ShownCharacter& character);
  // Takes the characters on past every row a screen shows, where only where they end is kept.
  void Skip(std::string_view utf8);
  void EraseLastGlyph(int cells);

  CellScreen& screen_;
  const int& wrap_width_;
  Position end_;      // just after the last character shown
  size_t shown_ = 0;  // glyphs: characters that take cells, with their marks
  std::vector<Wrap> wraps_;
};
