#include "console/input_channel.h"

#include <algorithm>

bool InputChannel::PollKey(int virtual_key) {
  if (queue_.PollKey(virtual_key)) return true;
  if (!ended_ && poll_round_.StartsAgain(virtual_key)) {
    Fill(kPollWaitMilliseconds);
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
  // resize between the bytes of a special key would end its sequence as a lone Escape.
  const int64_t deadline = device_.NowMilliseconds() + timeout_ms;
  for (int wait = timeout_ms;;) {
    events_.BeforeWait();
    std::string arrived;
    switch (device_.ReadInput(arrived, wait)) {
      case ConsoleDevice::Wait::kInput:
        queue_.Append(arrived);
        return true;
      case ConsoleDevice::Wait::kLost:
        events_.EndRun(kInputLostMessage);
        return false;  // EndRun does not return
      case ConsoleDevice::Wait::kTimeout:
        return false;
      case ConsoleDevice::Wait::kEnded:
        ended_ = true;
        return false;
      case ConsoleDevice::Wait::kScreenEvent:
        events_.OnScreenEvent();
        if (timeout_ms != ConsoleDevice::kNoTimeout) {
          // With no time left it still looks once for keys already there.
          wait = static_cast<int>(std::max<int64_t>(deadline - device_.NowMilliseconds(), 0));
        }
        break;
    }
  }
}

std::string InputChannel::ReadLine(LineEcho& echo) {
  if (ended_ && queue_.Empty()) return {};
  return device_.InputIsTerminal() ? ReadEditedLine(echo) : ReadRawLine();
}

std::string InputChannel::ReadEditedLine(LineEcho& echo) {
  for (;;) {
    while (!queue_.Empty()) {
      switch (editor_.Feed(queue_.Take(), echo)) {
        case LineEditor::Status::kEditing:
          break;
        case LineEditor::Status::kInputEnded:
          ended_ = true;
          queue_ = PendingInput{};  // the user said there is nothing more
          echo.EndLine();
          return editor_.TakeLine();
        case LineEditor::Status::kLineDone:
          return editor_.TakeLine();
      }
    }
    if (ended_) {
      echo.EndLine();
      return editor_.TakeLine();
    }
    const bool escape_pending = editor_.InEscapeSequence();
    const bool arrived = Fill(escape_pending ? kLoneEscapeMilliseconds : ConsoleDevice::kNoTimeout);
    if (escape_pending && !arrived) editor_.EndLoneEscape();
  }
}

// Input from a file or a pipe: the bytes up to a line feed, without a carriage return before it.
std::string InputChannel::ReadRawLine() {
  std::string line;
  for (;;) {
    while (!queue_.Empty()) {
      const unsigned char byte = queue_.Take();
      if (byte == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line += static_cast<char>(byte);
    }
    if (ended_) return line;
    Fill(ConsoleDevice::kNoTimeout);
  }
}

std::string InputChannel::TakeKey() {
  EscapeSequenceReader sequence;
  std::string key;
  for (;;) {
    if (queue_.Empty()) {
      if (ended_) return key;
      const bool escape_pending = sequence.InSequence();
      const bool arrived =
          Fill(escape_pending ? kLoneEscapeMilliseconds : ConsoleDevice::kNoTimeout);
      if (escape_pending && !arrived) return key;  // a lone Escape is a key of its own
      continue;
    }
    const bool was_in_sequence = sequence.InSequence();
    if (was_in_sequence && queue_.Front() == 0x1B) return key;  // an Escape begins the next key
    const EscapeSequenceReader::Result result = sequence.Feed(queue_.Front());
    // The byte after a lone Escape is the next key: it stays queued.
    if (result == EscapeSequenceReader::Result::kOrdinary && was_in_sequence) return key;
    key += static_cast<char>(queue_.Take());
    if (result != EscapeSequenceReader::Result::kInSequence) return key;
  }
}

void InputChannel::WaitForDismissKey() {
  queue_ = PendingInput{};  // keys typed before the box appeared must not dismiss it unseen
  for (;;) {
    const std::string key = TakeKey();
    if (key.empty() || key == "\r" || key == "\n" || key == " " || key == "\x1b") return;
  }
}
