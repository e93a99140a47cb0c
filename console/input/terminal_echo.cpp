#include "console/input/terminal_echo.h"

#include <string>

#include "console/utf8.h"

void TerminalEcho::ShowText(std::string_view utf8) {
  std::string shown;
  while (!utf8.empty()) {
    const ShownCharacter character = DecodeShown(utf8);
    if (character.cells == 0 && shown_ == 0) AppendUtf8(shown, kMarkBase);
    if (character.cells != 0 || shown_ == 0) ++shown_;
    AppendUtf8(shown, character.glyph);
    utf8.remove_prefix(character.length);
  }
  device_.WriteEcho(charset_.FromUtf8(shown));
}

void TerminalEcho::EraseLastCharacter(std::string_view cluster) {
  // Back over every cell the cluster's glyphs took, blank them (which takes their marks too), and
  // back again.
  size_t cells = 0;
  while (!cluster.empty()) {
    const size_t glyph = LastGlyphLength(cluster);
    cells += static_cast<size_t>(GlyphCells(cluster.substr(cluster.size() - glyph)));
    cluster.remove_suffix(glyph);
    if (shown_ > 0) --shown_;
  }
  device_.WriteEcho(std::string(cells, '\b') + std::string(cells, ' ') + std::string(cells, '\b'));
}

void TerminalEcho::EndLine() {
  shown_ = 0;
  device_.WriteEcho("\r\n");
}
