#include "console/terminal_echo.h"

#include <string>

#include "console/utf8.h"

void TerminalEcho::ShowCharacter(std::string_view utf8) {
  std::string shown;
  AppendUtf8(shown, VisibleCodepoint(DecodeUtf8(utf8).codepoint));
  device_.WriteEcho(shown);
}

void TerminalEcho::EraseLastCharacter(std::string_view utf8) {
  // Back over every cell the character took, blank them, and back again.
  const auto cells = static_cast<size_t>(CellWidth(VisibleCodepoint(DecodeUtf8(utf8).codepoint)));
  device_.WriteEcho(std::string(cells, '\b') + std::string(cells, ' ') + std::string(cells, '\b'));
}
