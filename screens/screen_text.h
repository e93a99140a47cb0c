// What every boxed screen writes the same way: text at a fixed cell, and the title.
#pragma once

#include <string_view>

#include "console/console.h"

inline void WriteAt(int column, int row, std::string_view text) {
  MoveCursor(column, row);
  WriteText(text);
}

inline void WriteTitle() {
  WriteAt(19, 1, "Quillomat");
}
