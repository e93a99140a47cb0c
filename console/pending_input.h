// Bytes typed but not yet taken by a line read or a key wait. Key polls look through it and take
// nothing, so whatever a polled key typed is still there for the next line read.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string_view>

class PendingInput {
 public:
  void Append(std::string_view bytes);
  bool Empty() const { return bytes_.empty(); }
  unsigned char Front() const { return bytes_.front(); }
  unsigned char Take();

  // Reports whether a byte the key types has arrived since the previous poll of that key and is
  // still queued.
  bool PollKey(int virtual_key);

 private:
  std::deque<unsigned char> bytes_;
  uint64_t arrived_ = 0;  // bytes appended so far; the arrival number of the next one
  std::map<int, uint64_t> first_unpolled_;  // per key: arrival number its next poll starts from
};

// Whether typing `byte` means `virtual_key` was pressed: a letter key types its lower or upper
// case letter, a digit key its digit.
bool KeyTypesByte(int virtual_key, unsigned char byte);
