// Every escape sequence the program sends to a terminal, in one list: the whole protocol between
// the program and a terminal that can move its cursor (ECMA-48 with a few DEC private modes, as
// every terminal emulator in use reads them). Files, pipes and terminals without cursor control
// get no escape sequence at all. Parameterised sequences are given as the introducer and the
// final byte that frame their decimal parameters.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace escape {

// CAN: cancels an escape sequence that a signal may have cut in half.
inline constexpr std::string_view kCancel = "\x18";
// CSI, the introducer of every parameterised sequence below.
inline constexpr std::string_view kCsi = "\x1b[";

// CUP, CSI row ; column H, both from 1; the column is left out when it is the first.
inline constexpr char kCursorPositionFinal = 'H';
// CUP without parameters: the top-left cell.
inline constexpr std::string_view kCursorHome = "\x1b[H";
// ED 2: erases the whole screen; the cursor stays.
inline constexpr std::string_view kEraseScreen = "\x1b[2J";
// EL: erases from the cursor to the end of its line.
inline constexpr std::string_view kEraseToLineEnd = "\x1b[K";
// ECH, CSI count X: erases that many cells from the cursor on; the cursor stays.
inline constexpr char kEraseCharactersFinal = 'X';

// SGR, CSI colour ; colour m: sets the colours of the text written after it.
inline constexpr char kSgrFinal = 'm';
// SGR 0: the terminal's own colours and no other rendition.
inline constexpr std::string_view kResetAttributes = "\x1b[0m";
// SGR colour numbers by console colour (blue in bit 0, red in bit 2; ANSI has them the other way
// round, and brightness in bit 3). Light grey (7) and a black background are the terminal's own
// defaults (39 and 49), so that the program looks right on light and dark themes alike.
inline constexpr int kForegroundSgr[16] = {30, 34, 32, 36, 31, 35, 33, 39,
                                           90, 94, 92, 96, 91, 95, 93, 97};
inline constexpr int kBackgroundSgr[16] = {49,  44,  42,  46,  41,  45,  43,  47,
                                           100, 104, 102, 106, 101, 105, 103, 107};

// DECTCEM: hides and shows the cursor.
inline constexpr std::string_view kHideCursor = "\x1b[?25l";
inline constexpr std::string_view kShowCursor = "\x1b[?25h";
// Private mode 1049: the alternate screen, entered and left with the shell's screen kept aside.
inline constexpr std::string_view kEnterAlternateScreen = "\x1b[?1049h";
inline constexpr std::string_view kLeaveAlternateScreen = "\x1b[?1049l";
// DECKPAM and DECKPNM: the keypad in application mode, so that its digits arrive apart from the
// main row's, and back in numeric mode.
inline constexpr std::string_view kKeypadApplication = "\x1b=";
inline constexpr std::string_view kKeypadNumeric = "\x1b>";
// SCS: the DEC special graphics set into G0, for line glyphs in a charset without them, and ASCII
// back into G0.
inline constexpr std::string_view kLineDrawingInG0 = "\x1b(0";
inline constexpr std::string_view kAsciiInG0 = "\x1b(B";

// Sequences written one after the other, as one constant, for the ones that go out in one write.
template <const std::string_view&... kParts>
inline constexpr auto kJoinedBytes = [] {
  std::array<char, (kParts.size() + ...)> bytes{};
  size_t at = 0;
  ((std::copy(kParts.begin(), kParts.end(), bytes.begin() + at), at += kParts.size()), ...);
  return bytes;
}();
template <const std::string_view&... kParts>
inline constexpr std::string_view kJoined{kJoinedBytes<kParts...>.data(),
                                          kJoinedBytes<kParts...>.size()};

}  // namespace escape
