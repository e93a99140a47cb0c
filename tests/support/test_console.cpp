#include "tests/support/test_console.h"

#include "console/utf8.h"

std::string TestConsole::Text(int column, int row, int length) const {
  std::string text;
  for (int c = column; c < column + length; ++c) AppendUtf8(text, At(c, row).glyph);
  return text;
}

std::string TestConsole::Row(int row) const {
  return Text(0, row, console.Screen().Width());
}
