// A polling loop asks about one key after another, with nothing in between. Waiting for input
// once per round, when a key comes up again, keeps such a loop from burning a core without
// delaying any key of the round: each of them is asked about before the loop waits again.
#pragma once

#include <bitset>
#include <cstddef>

class PollRound {
 public:
  // Records a poll of `virtual_key`; true when it starts a new round of the loop.
  bool StartsAgain(int virtual_key) {
    const auto key = static_cast<size_t>(virtual_key & 0xFF);
    const bool round_complete = polled_.test(key);
    if (round_complete) polled_.reset();
    polled_.set(key);
    return round_complete;
  }
  // Something other than a poll read input: the next poll begins a new loop, whose keys are each
  // asked about before it waits, since any of them may be among what was read.
  void Restart() { polled_.reset(); }

 private:
  std::bitset<256> polled_;
};
