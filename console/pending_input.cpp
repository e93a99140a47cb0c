#include "console/pending_input.h"

#include <algorithm>

void PendingInput::Append(std::string_view bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  arrived_ += bytes.size();
}

unsigned char PendingInput::Take() {
  const unsigned char byte = bytes_.front();
  bytes_.pop_front();
  return byte;
}

bool PendingInput::PollKey(int virtual_key) {
  uint64_t& first_unpolled = first_unpolled_[virtual_key];
  const uint64_t first_queued = arrived_ - bytes_.size();
  const uint64_t start = std::max(first_unpolled, first_queued);
  first_unpolled = arrived_;
  return std::any_of(bytes_.begin() + static_cast<long>(start - first_queued), bytes_.end(),
                     [virtual_key](unsigned char byte) { return KeyTypesByte(virtual_key, byte); });
}

bool KeyTypesByte(int virtual_key, unsigned char byte) {
  if (virtual_key >= 'A' && virtual_key <= 'Z') {
    return byte == virtual_key || byte == virtual_key - 'A' + 'a';
  }
  if (virtual_key >= '0' && virtual_key <= '9') return byte == virtual_key;
  return false;
}
