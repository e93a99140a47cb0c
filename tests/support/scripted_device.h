// A console device for tests: input comes from a script, output is recorded, time is simulated,
// and ending the process throws ProcessEnded so that a test can observe it.
#pragma once

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/console_device.h"

struct ProcessEnded {
  int status;
  std::string error_message;
};

struct ScriptedDeviceOptions {
  bool input_is_terminal = true;
  bool input_ends = false;  // after the script, as a pipe ends
  WindowSize size = {120, 31};
};

// Bytes that arrive delay_ms after the previous step, or a resize of the window.
struct ScriptStep {
  std::string bytes;
  int delay_ms = 0;
  std::optional<WindowSize> resize = {};
};

class ScriptedDevice : public ConsoleDevice {
 public:
  ScriptedDevice(const std::vector<std::string>& chunks, ScriptedDeviceOptions options)
      : options_(options) {
    for (const std::string& chunk : chunks) steps.push_back({chunk});
  }

  bool InputIsTerminal() const override { return options_.input_is_terminal; }
  Wait ReadInput(std::string& into, int timeout_ms) override {
    if (timeout_ms > 0) ++timed_waits;
    if (steps.empty()) {
      if (options_.input_ends) return Wait::kEnded;
      if (timeout_ms == kNoTimeout) throw std::runtime_error("waited for input never scripted");
      now += timeout_ms;
      return Wait::kTimeout;
    }
    ScriptStep& next = steps.front();
    if (timeout_ms != kNoTimeout && next.delay_ms > timeout_ms) {
      next.delay_ms -= timeout_ms;
      now += timeout_ms;
      return Wait::kTimeout;
    }
    now += next.delay_ms;
    const ScriptStep step = next;
    steps.pop_front();
    if (step.resize) options_.size = *step.resize;
    into += step.bytes;
    return step.resize ? Wait::kScreenEvent : Wait::kInput;
  }
  bool Sleep(int timeout_ms) override {
    now += timeout_ms;
    return false;
  }
  int64_t NowMilliseconds() override { return now; }
  WindowSize Size() override { return options_.size; }
  void WriteOutput(std::string_view bytes) override {
    output += bytes;
    ++output_writes;
  }
  void WriteEcho(std::string_view bytes) override { echo += bytes; }

  std::deque<ScriptStep> steps;
  std::string output;
  int output_writes = 0;
  std::string echo;  // what the keyboard's terminal was sent
  int64_t now = 0;
  int timed_waits = 0;  // reads that were to give up at a deadline: a real one would wake then

 protected:
  void EndProcess(int status, std::string_view error_message) override {
    throw ProcessEnded{status, std::string(error_message)};
  }

 private:
  ScriptedDeviceOptions options_;
};
