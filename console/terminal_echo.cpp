#include "console/terminal_echo.h"

#include <string>

#include "console/utf8.h"

void TerminalEcho::ShowCharacter(std::string_view utf8) {
  std::string shown;
  AppendUtf8(shown, VisibleCodepoint(DecodeUtf8(utf8).codepoint));
  device_.WriteEcho(shown);
}
