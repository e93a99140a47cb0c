#include "console/escape_sequence_reader.h"

namespace {

constexpr unsigned char kEscape = 0x1B;

bool IsParameterOrIntermediate(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x3F;
}
bool IsFinal(unsigned char byte) {
  return byte >= 0x40 && byte <= 0x7E;
}
bool IsPrintableAscii(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x7E;
}

}  // namespace

EscapeSequenceReader::Result EscapeSequenceReader::Feed(unsigned char byte) {
  // An Escape inside a sequence cut short (Alt+[ typed just before an arrow key) starts the
  // next sequence, so that sequence is dropped whole too instead of leaking into the text.
  if (byte == kEscape && state_ != State::kNone) {
    state_ = State::kEscape;
    return Result::kInSequence;
  }
  switch (state_) {
    case State::kNone:
      if (byte != kEscape) return Result::kOrdinary;
      state_ = State::kEscape;
      return Result::kInSequence;
    case State::kEscape:
      return FeedEscape(byte);
    case State::kCsiStart:
    case State::kCsi:
    case State::kLinuxFunctionKey:
      return FeedCsi(byte);
    case State::kSs3:
      return FeedSs3(byte);
  }
  return Result::kOrdinary;
}

EscapeSequenceReader::Result EscapeSequenceReader::FeedEscape(unsigned char byte) {
  if (byte == '[') {
    state_ = State::kCsiStart;
    return Result::kInSequence;
  }
  if (byte == 'O') {
    state_ = State::kSs3;
    return Result::kInSequence;
  }
  if (IsPrintableAscii(byte)) return End();  // Alt with a key
  return Abandon();  // a lone Escape followed by a key of its own, such as Enter
}

EscapeSequenceReader::Result EscapeSequenceReader::FeedCsi(unsigned char byte) {
  if (state_ == State::kLinuxFunctionKey) return IsPrintableAscii(byte) ? End() : Abandon();
  if (state_ == State::kCsiStart && byte == '[') {  // the Linux console's F1 to F5: ESC [ [ A
    state_ = State::kLinuxFunctionKey;
    return Result::kInSequence;
  }
  state_ = State::kCsi;
  if (IsParameterOrIntermediate(byte)) return Result::kInSequence;
  return IsFinal(byte) ? End() : Abandon();
}

EscapeSequenceReader::Result EscapeSequenceReader::FeedSs3(unsigned char byte) {
  if (byte >= '0' && byte <= ';') return Result::kInSequence;  // modifier parameters
  return IsFinal(byte) ? End() : Abandon();
}
