#include "console/screen/cell_screen.h"

#include <algorithm>
#include <utility>

#include "console/utf8.h"

namespace {

// Sequences of marks kept before the unused ones are dropped: few texts need more than a handful,
// and this bounds what a paste of ever new ones costs.
constexpr size_t kMaxMarkSequences = 8192;

}  // namespace

CellScreen::CellScreen(int width, int height)
    : width_(std::min(width, kMaxWidth)),
      height_(std::min(height, kMaxHeight)),
      cells_(static_cast<size_t>(width_) * height_) {}

void CellScreen::GrowTo(int width, int height) {
  const int new_width = std::clamp(width, width_, kMaxWidth);
  const int new_height = std::clamp(height, height_, kMaxHeight);
  if (new_width == width_ && new_height == height_) return;
  std::vector<Cell> grown(static_cast<size_t>(new_width) * new_height);
  for (int row = 0; row < height_; ++row) {
    std::copy_n(cells_.begin() + static_cast<long>(Index(0, row)), width_,
                grown.begin() + static_cast<long>(row) * new_width);
  }
  cells_ = std::move(grown);
  ++version_;
  ++cells_version_;
  width_ = new_width;
  height_ = new_height;
}

void CellScreen::MoveCursor(int column, int row) {
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
  cursor_column_ = column;
  cursor_row_ = row;
  written_column_ = -1;
  ++version_;
}

void CellScreen::PlaceCursor(int column, int row) {
  cursor_column_ = std::clamp(column, 0, width_ - 1);
  cursor_row_ = std::max(row, 0);
  written_column_ = -1;
  ++version_;
}

void CellScreen::Write(std::string_view text) {
  ++version_;
  while (!text.empty()) {
    if (text.front() == '\n') {
      cursor_column_ = 0;
      ++cursor_row_;
      written_column_ = -1;
      text.remove_prefix(1);
      continue;
    }
    const Utf8Character character = DecodeUtf8(text);
    Put(VisibleCodepoint(character.codepoint));
    text.remove_prefix(character.length);
  }
}

void CellScreen::Put(char32_t glyph) {
  const int width = CellWidth(glyph);
  if (width == 0 && written_column_ >= 0) {
    AddMark(written_column_, written_row_, glyph);
    return;
  }
  if (width == 2 && cursor_column_ + 1 >= width_) AdvanceCursor();
  SetCell(cursor_column_, cursor_row_, Cell{glyph, attribute_});
  written_column_ = cursor_column_;
  written_row_ = cursor_row_;
  for (int cell = 0; cell < std::max(width, 1); ++cell) AdvanceCursor();
}

void CellScreen::AddMark(int column, int row, char32_t mark) {
  ++version_;
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
  ++cells_version_;
  if (cells_[Index(column, row)].glyph == kWideRightHalf && column > 0) --column;
  Cell& cell = cells_[Index(column, row)];
  std::u32string marks(Marks(cell));
  if (marks.size() >= kMaxMarks) return;
  marks += mark;
  cell.marks = NumberMarks(marks);
}

std::u32string_view CellScreen::Marks(const Cell& cell) const {
  if (cell.marks == 0) return {};
  return mark_sequences_[cell.marks - 1];
}

uint16_t CellScreen::NumberMarks(const std::u32string& marks) {
  if (const auto known = mark_numbers_.find(marks); known != mark_numbers_.end()) {
    return known->second;
  }
  if (mark_sequences_.size() >= kMaxMarkSequences) DropUnusedMarks();
  if (mark_sequences_.size() >= kMaxMarkSequences) return 0;  // every one is on the screen
  mark_sequences_.push_back(marks);
  const auto number = static_cast<uint16_t>(mark_sequences_.size());
  mark_numbers_.emplace(marks, number);
  return number;
}

void CellScreen::DropUnusedMarks() {
  std::vector<uint16_t> renumbered(mark_sequences_.size() + 1, 0);
  std::vector<std::u32string> kept;
  mark_numbers_.clear();
  for (Cell& cell : cells_) {
    if (cell.marks == 0) continue;
    uint16_t& number = renumbered[cell.marks];
    if (number == 0) {
      kept.push_back(std::move(mark_sequences_[cell.marks - 1]));
      number = static_cast<uint16_t>(kept.size());
      mark_numbers_.emplace(kept.back(), number);
    }
    cell.marks = number;
  }
  mark_sequences_ = std::move(kept);
  ++marks_generation_;
  ++cells_version_;
}

void CellScreen::SetCell(int column, int row, Cell cell) {
  ++version_;
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
  ++cells_version_;
  const int width = CellWidth(cell.glyph);
  if (width == 2 && column + 1 >= width_) cell.glyph = U' ';  // no room for its right half
  const char32_t mark = width == 0 ? std::exchange(cell.glyph, kMarkBase) : 0;
  Overwrite(column, row, cell);
  if (cell.glyph != U' ' && width == 2) {
    Overwrite(column + 1, row, Cell{kWideRightHalf, cell.attribute});
  }
  if (mark != 0) AddMark(column, row, mark);
}

void CellScreen::Overwrite(int column, int row, Cell cell) {
  Cell& target = cells_[Index(column, row)];
  if (target.glyph == kWideRightHalf) {
    Cell& left = cells_[Index(column - 1, row)];
    left = Cell{U' ', left.attribute};
  }
  if (column + 1 < width_ && cells_[Index(column + 1, row)].glyph == kWideRightHalf) {
    cells_[Index(column + 1, row)].glyph = U' ';
  }
  target = cell;
}

void CellScreen::Clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{U' ', attribute_});
  ++version_;
  ++cells_version_;
  cursor_column_ = 0;
  cursor_row_ = 0;
  written_column_ = -1;
}

void CellScreen::AdvanceCursor() {
  if (++cursor_column_ < width_) return;
  cursor_column_ = 0;
  ++cursor_row_;
}
