// Draws the README's pictures of three screens: runs the real program in a pseudo-terminal read by
// libvterm, presses keys as a user would, and writes what the terminal shows as SVG. The output
// depends only on what is on the screen, so the same program always gives the same bytes and a
// byte comparison tells when the committed pictures no longer show the program.
//
// Usage: quillomat_draw_pictures PROGRAM OUTPUT_DIR
// writes OUTPUT_DIR/welcome.svg, OUTPUT_DIR/color-menu.svg and OUTPUT_DIR/farewell.svg.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/utf8.h"
#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

// The size the screens are laid out for (the Windows console's usual window), as the terminal
// tests use.
constexpr int kColumns = 120;
constexpr int kRows = 31;
// Generous: the program pauses 2 s after creating the document and 3 s after saving it, and CI
// machines may be busy.
constexpr int kTimeoutMs = 20000;
// A screen counts as drawn once nothing more has arrived for this long after its text showed, so
// a picture never catches a screen half-written.
constexpr auto kQuietTime = std::chrono::milliseconds(200);

// The pictures' one palette, for the terminal's 16 colours by their index (0-7 normal, 8-15
// bright), on a dark theme. Close to the usual dark editor terminal colours; chosen so that
// every colour the menu offers stands out from the background, blue included.
constexpr const char* kPalette[16] = {
    "#000000",  // 0 black
    "#cd3131",  // 1 red
    "#0dbc79",  // 2 green
    "#e5e510",  // 3 yellow
    "#2472c8",  // 4 blue
    "#bc3fbc",  // 5 magenta
    "#11a8cd",  // 6 cyan
    "#e5e5e5",  // 7 white
    "#666666",  // 8 bright black (dark grey)
    "#f14c4c",  // 9 bright red
    "#23d18b",  // 10 bright green
    "#f5f543",  // 11 bright yellow
    "#3b8eea",  // 12 bright blue
    "#d670d6",  // 13 bright magenta
    "#29b8db",  // 14 bright cyan
    "#ffffff",  // 15 bright white
};
constexpr const char* kDefaultBackground = "#1e1e1e";
constexpr const char* kDefaultForeground = "#cccccc";  // light grey, the program's colour 7

// Cell geometry in tenths of a pixel, so every coordinate is an exact integer. At this size a
// usual monospace font (0.602 em advance, 1.164 em from ascent to descent, as DejaVu Sans Mono
// and Menlo have) fills the 8.8 by 17 px cell exactly: box-drawing glyphs span the font's whole
// line, so the frames' lines join up, and a viewer that ignores the per-character positions
// below (librsvg does) still lines the cells up.
constexpr const char* kFontSize = "14.617px";
constexpr int kCellWidth = 88;
constexpr int kCellHeight = 170;
constexpr int kBaseline = 136;  // the font's ascent below the top of a cell
constexpr int kPadding = 120;

// The screens use foreground colours only, and no wide characters: a cell is its glyph and colour.
struct Cell {
  char32_t glyph;
  int foreground;  // -1: the default, else a palette index
};

using Screen = std::vector<std::vector<Cell>>;  // [row][column]

bool IsBlank(const Cell& cell) {
  return cell.glyph == U' ';
}

const char* ColourOf(int index) {
  if (index < 0 || index > 15) {
    // The program only uses the 16 colours; anything else means the pictures need a new palette.
    throw std::runtime_error("a cell has a colour outside the 16-colour palette: " +
                             std::to_string(index));
  }
  return kPalette[index];
}

Screen Snapshot(PtyTerminal& terminal) {
  Screen screen(kRows, std::vector<Cell>(kColumns));
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      screen[row][column] = {terminal.CharAt(column, row), terminal.ForegroundAt(column, row)};
    }
  }
  return screen;
}

// A length in tenths of a pixel, written the shortest exact way: "25.2", "17".
std::string Px(int tenths) {
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

void AppendEscaped(std::string& out, char32_t glyph) {
  switch (glyph) {
    case U'&':
      out += "&amp;";
      return;
    case U'<':
      out += "&lt;";
      return;
    case U'>':
      out += "&gt;";
      return;
    default:
      break;
  }
  // XML has no place for control characters, surrogates or the two non-characters at the end of
  // the first plane.
  const bool allowed = glyph >= 0x20 && glyph != 0x7F && (glyph < 0xD800 || glyph > 0xDFFF) &&
                       glyph != 0xFFFE && glyph != 0xFFFF && glyph <= 0x10FFFF;
  AppendUtf8(out, allowed ? glyph : kReplacementCharacter);
}

// The screen's top-left part that holds everything drawn. The screens are anchored at the top-left
// corner; the blank rows and columns past the drawing are left out, so that a small box makes a
// small picture in the README.
std::pair<int, int> DrawnSize(const Screen& screen) {
  int columns = 0;
  int rows = 0;
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      if (IsBlank(screen[row][column])) continue;
      columns = std::max(columns, column + 1);
      rows = std::max(rows, row + 1);
    }
  }
  if (rows == 0) throw std::runtime_error("the screen is blank");
  return {columns, rows};
}

std::string ToSvg(const Screen& screen, std::string_view title) {
  const auto [columns, rows] = DrawnSize(screen);
  const int width = 2 * kPadding + columns * kCellWidth;
  const int height = 2 * kPadding + rows * kCellHeight;
  auto x_of = [](int column) { return Px(kPadding + column * kCellWidth); };

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Px(width) +
                    "\" height=\"" + Px(height) + "\" viewBox=\"0 0 " + Px(width) + " " +
                    Px(height) + "\">\n";
  svg += "<title>";
  for (size_t at = 0; at < title.size();) {
    const Utf8Character character = DecodeUtf8(title.substr(at));
    AppendEscaped(svg, character.codepoint);
    at += character.length;
  }
  svg += "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" rx=\"6\" fill=\"" + std::string(kDefaultBackground) +
         "\"/>\n";

  // Text: one <text> per row, one <tspan> per run of cells in the same colour. Every character
  // gets its own x, so the cells line up whatever widths the viewer's monospace font (or the font
  // it falls back to for box drawing) has. A single blank inside a run is kept as a space; longer
  // blank stretches end the run and are not written.
  svg += "<g font-family=\"monospace\" font-size=\"" + std::string(kFontSize) + "\" fill=\"" +
         std::string(kDefaultForeground) + "\" xml:space=\"preserve\">\n";
  for (int row = 0; row < rows; ++row) {
    std::string runs;
    const std::vector<Cell>& cells = screen[row];
    auto starts_run = [&](int column) { return column < columns && !IsBlank(cells[column]); };
    for (int column = 0; column < columns;) {
      if (!starts_run(column)) {
        ++column;
        continue;
      }
      const int foreground = cells[column].foreground;
      std::string text;
      std::string xs;
      auto add = [&](int at, char32_t glyph) {
        AppendEscaped(text, glyph);
        xs += (xs.empty() ? "" : " ") + x_of(at);
      };
      while (column < columns) {
        const Cell& cell = cells[column];
        if (!IsBlank(cell) && cell.foreground == foreground) {
          add(column++, cell.glyph);
        } else if (IsBlank(cell) && starts_run(column + 1) &&
                   cells[column + 1].foreground == foreground) {
          add(column++, U' ');
        } else {
          break;
        }
      }
      runs += "<tspan x=\"" + xs + "\"";
      if (foreground != -1) runs += " fill=\"" + std::string(ColourOf(foreground)) + "\"";
      runs += ">" + text + "</tspan>";
    }
    if (runs.empty()) continue;
    svg += "<text y=\"" + Px(kPadding + row * kCellHeight + kBaseline) + "\">" + runs + "</text>\n";
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

// Runs the program through its screens and keeps the ones the README shows.
class PictureRun {
 public:
  PictureRun(const std::string& program, std::filesystem::path output)
      : output_(std::move(output)) {
    terminal_.Start({program}, dir_.Path());
  }

  // Waits until the screen shows every one of `texts` and then goes quiet.
  void WaitForScreen(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      if (!terminal_.WaitForText(text, kTimeoutMs))
        Fail("the screen never showed \"" + text + "\"");
    }
    size_t seen = terminal_.BytesReceived();
    auto quiet_since = std::chrono::steady_clock::now();
    const bool quiet = terminal_.WaitFor(
        [&] {
          const auto now = std::chrono::steady_clock::now();
          if (terminal_.BytesReceived() != seen) {
            seen = terminal_.BytesReceived();
            quiet_since = now;
          }
          return now - quiet_since >= kQuietTime;
        },
        kTimeoutMs);
    if (!quiet) Fail("the screen kept changing");
  }

  void Send(std::string_view keys) { terminal_.Send(keys); }

  void Save(const std::string& file_name, std::string_view title) {
    const std::filesystem::path path = output_ / file_name;
    std::ofstream file(path, std::ios::binary);
    file << ToSvg(Snapshot(terminal_), title);
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
  }

  void WaitForNormalEnd() {
    if (!terminal_.WaitForExit(kTimeoutMs)) Fail("the program did not end");
    if (terminal_.ExitStatus() != 0) Fail("the program ended with a failure");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + "; the screen:\n" + terminal_.ScreenDump());
  }

  std::filesystem::path output_;
  TempDir dir_;  // the program's current folder, holding txt/
  PtyTerminal terminal_{kColumns, kRows};
};

void DrawPictures(const std::string& program, const std::filesystem::path& output) {
  PictureRun run(program, output);
  run.WaitForScreen(
      {" Press N key to create a new text file.", " Saved files are stored in Quillomat/txt/"});
  run.Save("welcome.svg", "Quillomat: the welcome box");

  run.Send("n");
  run.WaitForScreen({"║  n "});  // the N pressed starts the name
  run.Send("\177diary\r");
  // After a pause that tells where the document went, the menu replaces the box.
  run.WaitForScreen(
      {"Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9", "╝"});
  run.Save("color-menu.svg", "Quillomat: the colour menu");

  run.Send("4");
  run.WaitForScreen({"Enter your text and press enter to save it."});
  run.Send("hello\r");
  run.WaitForScreen({"Quillomat v1.0 by the Quillomat authors"});
  run.Save("farewell.svg", "Quillomat: the farewell box");

  run.Send("q");
  run.WaitForNormalEnd();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " PROGRAM OUTPUT_DIR\n";
    return 2;
  }
  try {
    DrawPictures(std::filesystem::absolute(argv[1]).string(), argv[2]);
  } catch (const std::exception& error) {
    std::cerr << argv[0] << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
