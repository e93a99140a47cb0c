// A polling loop asks about one key after another, with nothing in between. Pausing once per
// round, when a key comes up again, keeps such a loop from burning a core without delaying any
// key of the round.
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

 private:
  std::bitset<256> polled_;
};
