// Splits the bytes a terminal sends into keys. A special key (arrows, function and editing keys,
// the numeric keypad, mouse reports, paste markers, a terminal's replies) arrives as an escape
// sequence of several bytes; it is one key, so none of its bytes may pass for text or for the
// key a poll waits for. Bytes of one key may come apart on a slow link, so the reader is told how
// long after the byte before each one came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class KeyKind : uint8_t {
  kCharacter,   // one byte: text, or a control key such as Enter, Tab or Backspace
  kKeypad,      // a numeric keypad key in application keypad mode: types KeypadCharacter
  kAlt,         // Escape and a printable key sent together: Alt held with that key
  kEscape,      // Escape on its own
  kSpecial,     // any other escape sequence
  kEarlyCtrlD,  // Ctrl+D typed while no line was being read: a key, but not an end of input
};

// How long the bytes of one key may be apart. A terminal sends a key's bytes together, so the
// byte after Escape belongs to it (Alt with a key, or the start of a special key's sequence) only
// when it comes within the short wait: Escape typed before a key still leaves that key as typed,
// even O or [. Once a sequence has started, a slow or jittery link can hold back its rest for a
// good while, so that wait is long.
inline constexpr int kSequenceWaitMilliseconds = 500;
inline constexpr int kAltWaitMilliseconds = 50;

class KeyReader {
 public:
  // Takes the next byte, which came `gap_ms` after the one before. For each key completed by it,
  // in order, calls on_key(length, kind, last_byte): the key is the `length` bytes fed last but
  // not yet reported. A byte can complete two keys: a sequence it cuts short, then itself.
  template <typename OnKey>
  void Feed(unsigned char byte, int64_t gap_ms, OnKey on_key);
  // Whether the bytes fed last are the start of a key still waiting for its other bytes.
  bool InSequence() const { return state_ != State::kNone; }
  // How long after the byte fed last the next one may come and still belong to the same key.
  int SequenceWaitMilliseconds() const {
    return state_ == State::kEscape ? kAltWaitMilliseconds : kSequenceWaitMilliseconds;
  }
  // Nothing more came in time: what there is of the sequence is a key of its own.
  template <typename OnKey>
  void EndSequence(OnKey on_key);

 private:
  enum class State {
    kNone,
    kEscape,         // ESC
    kCsiStart,       // ESC [
    kCsi,            // ESC [ and parameters
    kLinuxFunction,  // ESC [ [, the Linux console's F1 to F5
    kMouse,          // ESC [ M and the three bytes of an X10 mouse report
    kSs3,            // ESC O
    // A string, up to BEL or ST: ESC ] (an operating system command), ESC P (a device control
    // string), ESC _ (an application program command), ESC X or ESC ^ (start of string, privacy
    // message). Terminals reply to queries in all of them.
    kString,
    kStringEscape,  // an ESC inside such a string: ESC \ ends it
  };
  enum class Step {
    kContinue,
    kComplete,
    kCutShort,         // the byte is not part of the sequence: it starts afresh
    kEscapeStartsNext  // an Escape in a string did not end it: it begins the next key
  };

  Step Advance(unsigned char byte, int64_t gap_ms);

  State state_ = State::kNone;
  size_t length_ = 0;                            // bytes of the sequence so far
  KeyKind complete_kind_ = KeyKind::kCharacter;  // the kind of the key a kComplete step completed
  int mouse_bytes_ = 0;
};

// The character a numeric keypad key types in application keypad mode (ESC O p is 0, ESC O M is
// Enter), given its sequence.
char KeypadCharacter(std::string_view sequence);

template <typename OnKey>
void KeyReader::Feed(unsigned char byte, int64_t gap_ms, OnKey on_key) {
  for (;;) {
    const bool was_in_sequence = InSequence();
    switch (Advance(byte, gap_ms)) {
      case Step::kContinue:
        return;
      case Step::kComplete:
        on_key(was_in_sequence ? length_ : size_t{1}, complete_kind_, byte);
        state_ = State::kNone;
        length_ = 0;
        return;
      case Step::kCutShort:
        EndSequence(on_key);
        break;
      case Step::kEscapeStartsNext:
        on_key(length_ - 1, KeyKind::kSpecial, 0);
        state_ = State::kEscape;
        length_ = 1;
        break;
    }
  }
}

template <typename OnKey>
void KeyReader::EndSequence(OnKey on_key) {
  if (state_ == State::kNone) return;
  on_key(length_, state_ == State::kEscape ? KeyKind::kEscape : KeyKind::kSpecial, 0);
  state_ = State::kNone;
  length_ = 0;
}
