#include "console/screen/error_box.h"

#include <algorithm>

#include "console/utf8.h"

namespace {

constexpr std::string_view kCaption = " ERROR ";
constexpr std::string_view kButton = "[  OK  ]";
constexpr uint16_t kButtonAttribute = 0x70;  // dark on light, the focused button's look
constexpr int kHeight = 7;

size_t CountCharacters(std::string_view text) {
  size_t count = 0;
  for (; !text.empty(); ++count) text.remove_prefix(DecodeUtf8(text).length);
  return count;
}

// The longest start of the text that fits in `width` cells.
std::string_view FittingPrefix(std::string_view text, int width) {
  size_t length = 0;
  for (int cells = 0; cells < width && length < text.size(); ++cells) {
    length += DecodeUtf8(text.substr(length)).length;
  }
  return text.substr(0, length);
}

void DrawBorder(CellScreen& screen, int left, int top, int width) {
  const uint16_t attribute = screen.Attribute();
  const int right = left + width - 1;
  const int bottom = top + kHeight - 1;
  for (int row = top; row <= bottom; ++row) {
    for (int column = left; column <= right; ++column) {
      char32_t glyph = U' ';
      const bool edge_row = row == top || row == bottom;
      const bool edge_column = column == left || column == right;
      if (edge_row && edge_column) {
        glyph = row == top ? (column == left ? U'╔' : U'╗') : (column == left ? U'╚' : U'╝');
      } else if (edge_row) {
        glyph = U'═';
      } else if (edge_column) {
        glyph = U'║';
      }
      screen.SetCell(column, row, Cell{glyph, attribute});
    }
  }
}

}  // namespace

void DrawErrorBox(CellScreen& screen, std::string_view message, int columns, int rows) {
  const int message_width = static_cast<int>(std::min<size_t>(CountCharacters(message), 200));
  const int width = std::min(std::max(message_width + 6, 24), std::max(columns, 1));
  const int left = std::max((columns - width) / 2, 0);
  const int top = std::max((rows - kHeight) / 2, 0);
  screen.SetAttribute(kDefaultAttribute);
  DrawBorder(screen, left, top, width);
  screen.MoveCursor(left + (width - static_cast<int>(kCaption.size())) / 2, top);
  screen.Write(kCaption);
  screen.MoveCursor(left + 3, top + 2);
  screen.Write(FittingPrefix(message, width - 6));
  screen.SetAttribute(kButtonAttribute);
  screen.MoveCursor(left + (width - static_cast<int>(kButton.size())) / 2, top + 4);
  screen.Write(kButton);
  screen.SetAttribute(kDefaultAttribute);
  screen.MoveCursor(left + (width - static_cast<int>(kButton.size())) / 2 + 3, top + 4);
}
