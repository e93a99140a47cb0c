// The two double-line frames every screen is built on: a 48 by 9 box and a full-screen frame as
// wide as the layouts and one row shorter. Each is a template of digit codes, one per cell, turned
// into glyphs as it is drawn; drawing a frame also blanks everything inside it.
#pragma once

#include <array>
#include <cstddef>

#include "console/console.h"

template <size_t Rows, size_t Columns>
using FrameTemplate = std::array<std::array<char, Columns>, Rows>;

// Codes '1' to '9' stand for glyphs; every other byte, the interior's spaces and the zero byte
// that ends a stored row alike, stands for a blank.
extern const std::array<ConsoleGlyph, 256> GlyphForCode;

// Nine rows of 48 codes, all drawn.
extern const FrameTemplate<9, 48> BoxFrame;
// Thirty rows of 119 codes, each stored with its terminating zero byte and drawn 120 cells wide,
// so column 119 is always blank.
inline constexpr size_t kScreenFrameRows = kLayoutRows - 1;
extern const FrameTemplate<kScreenFrameRows, kLayoutColumns> ScreenFrame;

// Draw the frame with its top-left cell at (0, 0), in the current attribute.
void DrawBoxFrame();
void DrawScreenFrame();
