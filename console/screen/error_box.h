// The modal box a fatal error shows on a terminal before the program ends.
#pragma once

#include <string_view>

#include "console/screen/cell_screen.h"

// Draws a box captioned "ERROR" holding the message and an OK button, centred in the visible
// part of the screen.
void DrawErrorBox(CellScreen& screen, std::string_view message, int columns, int rows);
