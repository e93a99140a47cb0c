// Which key states count as a press during a wait for a key. The Windows key state has two
// parts: the key is down now, or it was pressed since the previous query of it. That "since"
// may reach back to before the wait began (a key typed into the line before, at the shell, or in
// the previous run), so on a wait's first query of each key only "down now" counts; after that
// a press since the previous query counts too, so no press during the wait is missed.
#pragma once

#include <bitset>
#include <cstdint>

class FreshKeyPresses {
 public:
  static constexpr uint16_t kDownNow = 0x8000;

  // Something other than a key poll happened: the next poll begins a new wait.
  void EndWait() { queried_.reset(); }

  // Whether `state`, as GetAsyncKeyState gave it for the key, is a press made during this wait.
  bool IsPressed(int virtual_key, uint16_t state) {
    const auto key = static_cast<size_t>(virtual_key & 0xFF);
    const bool first_query = !queried_.test(key);
    queried_.set(key);
    return first_query ? (state & kDownNow) != 0 : state != 0;
  }

 private:
  std::bitset<256> queried_;
};
