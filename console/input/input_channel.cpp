#include "console/input/input_channel.h"

#include <algorithm>

namespace {

// The most text a line read takes at once, in bytes: a paste costs few calls, and this much memory.
constexpr size_t kTextRunBytes = size_t{64} << 10;

}  // namespace

std::string InputChannel::TooMuchInputMessage() {
  return "quillomat: over " + std::to_string(kMaxInputMebibytes) +
         " MiB of input came without the key the program waits for";
}

std::string InputChannel::LineTooLongMessage() {
  return "quillomat: a line of over " + std::to_string(kMaxInputMebibytes) +
         " MiB was typed; the run ends unsaved";
}

bool InputChannel::PollKey(int virtual_key) {
  if (queue_.PollKey(virtual_key)) return true;
  if (!ended_ && poll_round_.StartsAgain(virtual_key)) {
    // No deadline: nothing a poll reports can change until input comes. A key's bytes are told
    // apart by when they arrived, and a hang-up or the end of input ends the wait itself.
    Fill(ConsoleDevice::kNoTimeout);
    if (queue_.PollKey(virtual_key)) return true;
  }
  const auto key = static_cast<size_t>(virtual_key & 0xFF);
  if (ended_) {
    if (polled_after_end_.test(key)) events_.EndRun(kKeysExhaustedMessage);
    polled_after_end_.set(key);
  }
  return false;
}

bool InputChannel::Fill(int timeout_ms) {
  // A screen event brings no key, so the wait goes on for the rest of its time: otherwise a
  // resize between the bytes of a special key would end its sequence early.
  const int64_t deadline = device_.NowMilliseconds() + timeout_ms;
  // Input already there when the program looks came at some time since it last looked (it may
  // have paused in between); input a wait brings came as the wait ended. A first look that does
  // not wait tells the two apart.
  bool waited = false;
  for (int wait = 0;;) {
    events_.BeforeWait();
    arrived_.clear();
    const int64_t unseen_since_ms = looked_ms_;
    const ConsoleDevice::Wait result = device_.ReadInput(arrived_, wait);
    looked_ms_ = device_.NowMilliseconds();
    switch (result) {
      case ConsoleDevice::Wait::kInput:
        queue_.Append(arrived_, looked_ms_, waited ? looked_ms_ : unseen_since_ms,
                      line_being_read_);
        // A poll holds what it does not take; input that never brings its key must not grow
        // without bound.
        if (queue_.MemoryUse() > max_input_bytes_) events_.EndRun(TooMuchInputMessage());
        return true;
      case ConsoleDevice::Wait::kTimeout:
        if (waited || timeout_ms == 0) return false;
        break;
      case ConsoleDevice::Wait::kEnded:
        ended_ = true;
        return false;
      case ConsoleDevice::Wait::kLost:
        events_.EndRun(kInputLostMessage);
        return false;  // not reached: EndRun ends the run
      case ConsoleDevice::Wait::kScreenEvent:
        events_.OnScreenEvent();
        break;
    }
    waited = true;
    // With no time left it still looks once for keys already there.
    wait = timeout_ms == ConsoleDevice::kNoTimeout
               ? ConsoleDevice::kNoTimeout
               : static_cast<int>(std::max<int64_t>(deadline - device_.NowMilliseconds(), 0));
  }
}

// Waits for the rest of a key's sequence when the queue ends inside one; true when whole keys
// are there to take, false when the input has ended and none are left. A lone Escape waits only
// the short while a terminal takes to send a key's bytes, a sequence begun the long one, both
// counted from the byte that came last.
bool InputChannel::WaitForWholeKey() {
  while (!queue_.HasKey()) {
    const int wait = queue_.InSequence()
                         ? static_cast<int>(queue_.SequenceWaitLeft(device_.NowMilliseconds()))
                         : ConsoleDevice::kNoTimeout;
    if (!ended_ && Fill(wait)) continue;
    queue_.EndSequence();  // nothing more came: the sequence so far is a key of its own
    if (!queue_.HasKey()) return false;
  }
  return true;
}

std::string InputChannel::ReadLine(LineEcho& echo) {
  poll_round_.Restart();
  if (ended_ && queue_.Empty()) return {};
  return device_.InputIsTerminal() ? ReadEditedLine(echo) : ReadRawLine();
}

std::string InputChannel::ReadEditedLine(LineEcho& echo) {
  line_being_read_ = true;
  std::string text;
  for (;;) {
    if (!WaitForWholeKey()) break;
    // Text goes to the line a run at a time, ending where a byte at a time would have ended the
    // run: at the byte that takes the line past its bound.
    queue_.TakeText(std::min(max_input_bytes_ + 1 - editor_.LineSize(), kTextRunBytes), text);
    LineEditor::Status status = LineEditor::Status::kEditing;
    if (text.empty()) {
      status = editor_.Feed(queue_.TakeKey(), echo);
    } else {
      editor_.FeedText(text, echo);
    }
    if (editor_.LineSize() > max_input_bytes_) events_.EndRun(LineTooLongMessage());
    if (status == LineEditor::Status::kLineDone) {
      line_being_read_ = false;
      return editor_.TakeLine();
    }
    if (status == LineEditor::Status::kInputEnded) {
      ended_ = true;
      queue_ = PendingInput{};  // the user said there is nothing more
      break;
    }
  }
  line_being_read_ = false;
  echo.EndLine();
  return editor_.TakeLine();
}

// Input from a file or a pipe: the bytes up to a line feed, without a carriage return before it.
std::string InputChannel::ReadRawLine() {
  std::string line;
  for (;;) {
    while (!queue_.Empty()) {
      const unsigned char byte = queue_.TakeByte();
      if (byte == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line += static_cast<char>(byte);
    }
    if (line.size() > max_input_bytes_) events_.EndRun(LineTooLongMessage());
    if (ended_) return line;
    Fill(ConsoleDevice::kNoTimeout);
  }
}

void InputChannel::CollectTypedAhead() {
  poll_round_.Restart();
  if (!ended_) Fill(0);
}

std::string InputChannel::TakeKey() {
  poll_round_.Restart();
  return WaitForWholeKey() ? queue_.TakeKey().bytes : std::string();
}

void InputChannel::WaitForDismissKey() {
  poll_round_.Restart();
  queue_.Discard();  // keys typed before the box appeared must not dismiss it unseen
  while (WaitForWholeKey()) {
    const Key key = queue_.TakeKey();
    if (key.kind == KeyKind::kEscape) return;
    if (key.kind == KeyKind::kKeypad && KeypadCharacter(key.bytes) == '\r') return;
    // An Enter may be CR, LF, or CR LF or CR NUL as one key.
    const char first = key.bytes.empty() ? '\0' : key.bytes.front();
    if (key.kind == KeyKind::kCharacter && (first == '\r' || first == '\n' || first == ' ')) {
      return;
    }
  }
}
