// The in-memory console the screens are tested on: a ScreenConsole over a ScriptedDevice,
// installed as ConsoleOutput for the life of the object.
#pragma once

#include <string>
#include <vector>

#include "console/console.h"
#include "console/screen_console.h"
#include "tests/support/scripted_device.h"

class TestConsole {
 public:
  explicit TestConsole(std::vector<std::string> input = {}, ScriptedDevice::Options options = {})
      : device(std::move(input), options), console(device), previous_(ConsoleOutput) {
    ConsoleOutput = &console;
  }
  ~TestConsole() { ConsoleOutput = previous_; }
  TestConsole(const TestConsole&) = delete;
  TestConsole& operator=(const TestConsole&) = delete;

  const Cell& At(int column, int row) const { return console.Screen().At(column, row); }
  // The row's text as UTF-8, full width.
  std::string Row(int row) const;
  // Text of `length` cells from (column, row).
  std::string Text(int column, int row, int length) const;

  ScriptedDevice device;
  ScreenConsole console;

 private:
  Console* previous_;
};
