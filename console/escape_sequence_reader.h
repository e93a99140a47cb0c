// Recognises the escape sequences that arrow, function and other special keys send (CSI and SS3
// forms, and Alt+key), so that they can be taken or dropped whole instead of leaking into text.
#pragma once

class EscapeSequenceReader {
 public:
  enum class Result {
    kOrdinary,       // the byte is not part of a sequence: handle it as a key of its own
    kInSequence,     // the byte was taken into a sequence that has not ended yet
    kSequenceEnded,  // the byte ended a sequence
  };

  Result Feed(unsigned char byte);
  bool InSequence() const { return state_ != State::kNone; }
  // A lone Escape: nothing followed it in time, so it ends here as a key of its own.
  void EndLoneEscape() { state_ = State::kNone; }

 private:
  enum class State { kNone, kEscape, kCsiStart, kCsi, kLinuxFunctionKey, kSs3 };

  Result FeedEscape(unsigned char byte);
  Result FeedCsi(unsigned char byte);
  Result FeedSs3(unsigned char byte);
  Result End() {
    state_ = State::kNone;
    return Result::kSequenceEnded;
  }
  Result Abandon() {
    state_ = State::kNone;
    return Result::kOrdinary;
  }

  State state_ = State::kNone;
};
