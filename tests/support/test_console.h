// The in-memory console the screens are tested on: a ScreenConsole over a ScriptedDevice,
// installed as ConsoleOutput for the life of the object.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/screen_console.h"
#include "console/utf8.h"
#include "tests/support/scripted_device.h"

class TestConsole {
 public:
  explicit TestConsole(const std::vector<std::string>& input = {},
                       ScriptedDeviceOptions options = {}, const Charset& charset = {})
      : device(input, options), console(device, charset), previous_(ConsoleOutput) {
    ConsoleOutput = &console;
  }
  ~TestConsole() { ConsoleOutput = previous_; }

  const Cell& At(int column, int row) const { return console.Screen().At(column, row); }
  // The text of `length` cells from (column, row), each glyph with its marks; a wide character's
  // right half adds nothing.
  std::string Text(int column, int row, int length) const {
    std::string text;
    for (int c = column; c < column + length; ++c) {
      if (At(c, row).glyph != kWideRightHalf) AppendUtf8(text, At(c, row).glyph);
      for (const char32_t mark : console.Screen().Marks(At(c, row))) AppendUtf8(text, mark);
    }
    return text;
  }

  ScriptedDevice device;
  ScreenConsole console;

 private:
  Console* previous_;
};

// How `run` ended the process, or nothing when it returned.
template <typename Run>
std::optional<ProcessEnded> EndingOf(Run run) {
  try {
    run();
  } catch (const ProcessEnded& ended) {
    return ended;
  }
  return std::nullopt;
}
