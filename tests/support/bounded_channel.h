// The input channel alone over a scripted device, with a bound of the test's choosing; ending the
// run throws ProcessEnded, as the test consoles do, and the echo is only counted.
#pragma once

#include <string>
#include <vector>

#include "console/input/input_channel.h"
#include "tests/support/scripted_device.h"

struct BoundedChannel : InputChannel::Events, LineEcho {
  BoundedChannel(const std::vector<std::string>& chunks, ScriptedDeviceOptions options,
                 size_t bound)
      : device(chunks, options), channel(device, *this, {}, bound) {}
  void BeforeWait() override {}
  void OnScreenEvent() override {}
  [[noreturn]] void EndRun(std::string_view message) override {
    throw ProcessEnded{1, std::string(message)};
  }
  void ShowText(std::string_view utf8) override { shown += utf8.size(); }
  void EraseLastCharacter(std::string_view) override {}
  void EndLine() override {}

  ScriptedDevice device;
  InputChannel channel;
  size_t shown = 0;  // bytes the echo was given
};
