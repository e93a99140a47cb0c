// Keys from the Windows console itself: polls by key state, the console's own line input with
// its echo, and one key read for the last wait.
#pragma once

#include <string>

#include "console/input/fresh_key_presses.h"
#include "console/input/poll_round.h"

class WindowsKeyboard {
 public:
  bool IsKeyPressed(int virtual_key);
  std::string ReadLine();
  void WaitForKey();
  // Anything the program does between two polls, reading a line or a key included, ends their
  // wait: a key's next poll is then the first of a new wait, and an old press no longer counts.
  // The console calls it, before everything it does but a poll.
  void EndWait() {
    presses_.EndWait();
    poll_round_.Restart();
    input_held_ = false;
  }

 private:
  PollRound poll_round_;
  std::wstring read_;  // read from the console, not yet handed over as a line
  bool input_ended_ = false;
  FreshKeyPresses presses_;
  // A key kept for a read is at the front of the console's input, so its handle cannot be waited
  // on: polls rest briefly each round instead.
  bool input_held_ = false;
};
