// A console device for tests: input comes from a script of chunks, output is recorded, time is
// simulated, and ending the process throws ProcessEnded so a test can observe it.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "console/console_device.h"
#include "console/pending_input.h"

struct ProcessEnded {
  int status;
  std::string error_message;
};

struct ScriptedDeviceOptions {
  bool input_is_terminal = true;
  bool input_ends = false;  // after the script: end of file, as a pipe's end
  WindowSize size = {120, 31};
};

class ScriptedDevice : public ConsoleDevice {
 public:
  using Options = ScriptedDeviceOptions;

  explicit ScriptedDevice(std::vector<std::string> chunks = {}, Options options = {})
      : options_(options) {
    for (std::string& bytes : chunks) AddChunk(std::move(bytes));
  }

  // The bytes arrive delay_ms after the previous chunk was taken.
  void AddChunk(std::string bytes, int delay_ms = 0) {
    chunks_.push_back({std::move(bytes), delay_ms, false});
  }
  // A screen event (resize or resume) comes before any more input.
  void QueueScreenEvent(WindowSize new_size) {
    chunks_.push_front({{}, 0, true});
    pending_sizes_.push_back(new_size);
  }

  bool InputIsTerminal() const override { return options_.input_is_terminal; }

  Wait ReadInput(PendingInput& into, int timeout_ms) override {
    ++waits_;
    if (!chunks_.empty()) {
      Chunk& next = chunks_.front();
      if (timeout_ms != kNoTimeout && next.delay_ms > timeout_ms) {
        next.delay_ms -= timeout_ms;
        now_ += timeout_ms;
        return Wait::kTimeout;
      }
      now_ += next.delay_ms;
      const Chunk chunk = std::move(next);
      chunks_.pop_front();
      if (chunk.screen_event) {
        options_.size = pending_sizes_.front();
        pending_sizes_.erase(pending_sizes_.begin());
        return Wait::kScreenEvent;
      }
      into.Append(chunk.bytes);
      return Wait::kInput;
    }
    if (options_.input_ends) return Wait::kEnded;
    if (timeout_ms == kNoTimeout)
      throw std::runtime_error("waited for input the script never gives");
    now_ += timeout_ms;
    return Wait::kTimeout;
  }

  bool Sleep(int timeout_ms) override {
    now_ += timeout_ms;
    sleeps_.push_back(timeout_ms);
    return false;
  }
  int64_t NowMilliseconds() override { return now_; }
  WindowSize Size() override { return options_.size; }

  void WriteOutput(std::string_view bytes) override {
    output_ += bytes;
    ++output_writes_;
  }
  void WriteEcho(std::string_view bytes) override { echo_ += bytes; }

  const std::string& Output() const { return output_; }
  int OutputWrites() const { return output_writes_; }
  const std::string& Echo() const { return echo_; }
  const std::vector<int>& Sleeps() const { return sleeps_; }
  int Waits() const { return waits_; }
  size_t ChunksLeft() const { return chunks_.size(); }
  int64_t Now() const { return now_; }

 protected:
  void EndProcess(int status, std::string_view error_message) override {
    throw ProcessEnded{status, std::string(error_message)};
  }

 private:
  struct Chunk {
    std::string bytes;
    int delay_ms;
    bool screen_event;
  };

  std::deque<Chunk> chunks_;
  std::vector<WindowSize> pending_sizes_;
  Options options_;
  std::string output_;
  int output_writes_ = 0;
  std::string echo_;
  std::vector<int> sleeps_;
  int waits_ = 0;
  int64_t now_ = 0;
};
