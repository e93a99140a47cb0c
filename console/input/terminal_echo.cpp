#include "console/input/terminal_echo.h"

#include <string>

#include "console/utf8.h"

void TerminalEcho::ShowCharacter(std::string_view utf8) {
  const ShownCharacter character = DecodeShown(utf8);
  std::string shown;
  if (character.cells == 0 && shown_ == 0) AppendUtf8(shown, kMarkBase);
  if (character.cells != 0 || shown_ == 0) ++shown_;
  AppendUtf8(shown, character.glyph);
  device_.WriteEcho(charset_.FromUtf8(shown));
}

void TerminalEcho::EraseLastCharacter(std::string_view cluster) {
  // Back over every cell the character took, blank them (which takes its marks too), and back
  // again.
  if (shown_ > 0) --shown_;
  const auto cells = static_cast<size_t>(ClusterCells(cluster));
  device_.WriteEcho(std::string(cells, '\b') + std::string(cells, ' ') + std::string(cells, '\b'));
}

void TerminalEcho::EndLine() {
  shown_ = 0;
  device_.WriteEcho("\r\n");
}
