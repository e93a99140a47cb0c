// Keys typed but not yet taken by a line read or a key wait. Bytes are sorted into keys as they
// arrive, once, so that a key poll sees exactly the keys the line editor will see: it looks
// through them and takes nothing, so whatever a polled key typed is still there for the next
// line read.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "console/input/key_reader.h"

struct Key {
  std::string bytes;
  KeyKind kind;
};

class PendingInput {
 public:
  // Bytes read at `now_ms`, which came at some time from `unseen_since_ms` on. Ctrl+D typed while
  // no line is being read is kept as a key that does not end the input.
  void Append(std::string_view bytes, int64_t now_ms, int64_t unseen_since_ms,
              bool line_being_read);
  // Nothing more came in time: the sequence the queue ends in is a key of its own.
  void EndSequence();
  // Drops every key queued and any sequence begun, for a wait that must see only keys typed from
  // now on. The rest of an Enter typed before still goes with that Enter.
  void Discard();

  bool Empty() const { return bytes_.empty(); }
  // Whether the queue ends inside a key still waiting for the rest of its bytes.
  bool InSequence() const { return reader_.InSequence(); }
  // How much longer, at `now_ms`, that key may wait for its next byte.
  int64_t SequenceWaitLeft(int64_t now_ms) const;
  // Whether a whole key is waiting at the front.
  bool HasKey() const { return FrontArrival() < sorted_; }
  Key TakeKey();
  // Takes the keys at the front into `text` while each is one byte of text (any but a control
  // byte, Tab included), at most `most` of them: a paste goes to the line a run at a time. Leaves
  // `text` empty when the front key is no such byte.
  void TakeText(size_t most, std::string& text);
  // Takes one byte as it is, for input that is read as data rather than keys.
  unsigned char TakeByte();
  // What the queue holds, in bytes of memory, to keep it within a bound.
  size_t MemoryUse() const { return bytes_.size() + marks_.size() * sizeof(Mark); }

  // Reports whether a key that types `virtual_key` arrived since the previous poll of that key
  // and is still queued. Alt with the key counts too; a keypad digit or a byte of a sequence
  // never does.
  bool PollKey(int virtual_key);

 private:
  // A key of more than one byte, or a byte that is not plain text; plain bytes carry no mark.
  struct Mark {
    uint64_t start;  // arrival number of its first byte
    uint32_t length;
    KeyKind kind;
  };

  uint64_t FrontArrival() const { return arrived_ - bytes_.size(); }
  // Queues the plain keys `bytes` begin with; how many.
  size_t AppendPlainKeys(std::string_view bytes);
  void OnKey(size_t length, KeyKind kind, unsigned char last_byte);
  void JoinEnter(char byte);
  void DropPassedMarks();

  std::deque<char> bytes_;
  std::deque<Mark> marks_;
  KeyReader reader_;
  uint64_t arrived_ = 0;  // bytes appended so far: the arrival number of the next one
  uint64_t sorted_ = 0;   // bytes before this arrival number belong to whole keys
  int64_t last_arrival_ms_ = 0;
  bool line_being_read_ = false;
  // The key sorted last is a CR: an LF or NUL right after it is the rest of that Enter.
  bool enter_may_go_on_ = false;
  // Per virtual key: the arrival number just past its latest press, and where its next poll
  // starts looking; 0 is never.
  std::array<uint64_t, 256> pressed_until_{};
  std::array<uint64_t, 256> polled_until_{};
};
