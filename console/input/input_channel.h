// Everything the program reads: key polls that look without taking, line reads and the single
// key wait, over one queue of pending input. Keyboard input is edited and echoed; input from a
// file or a pipe is taken as it comes, and its end ends the waits instead of spinning for ever.
#pragma once

#include <bitset>
#include <string>
#include <string_view>

#include "console/console_device.h"
#include "console/input/line_editor.h"
#include "console/input/pending_input.h"
#include "console/input/poll_round.h"

class InputChannel {
 public:
  // What the owning console does around waits.
  class Events {
   public:
    virtual ~Events() = default;
    virtual void BeforeWait() = 0;  // bring the screen up to date
    virtual void OnScreenEvent() = 0;
    // The run cannot go on (polled keys can never be pressed now, the terminal went away, too
    // much input): end it with status 1 and the message, saving nothing.
    [[noreturn]] virtual void EndRun(std::string_view message) = 0;
  };

  // Keys are typed in `typed_charset`. max_input_bytes bounds both what a poll may hold and a
  // line.
  InputChannel(ConsoleDevice& device, Events& events, const Charset& typed_charset = {},
               size_t max_input_bytes = kMaxInputBytes)
      : device_(device),
        events_(events),
        max_input_bytes_(max_input_bytes),
        editor_(typed_charset) {}

  // Whether the key was pressed since its previous poll. Once per round of a polling loop, with
  // no such press queued, it blocks until input comes (handling resizes and resumes meanwhile):
  // an idle loop sleeps rather than wakes on a timer.
  bool PollKey(int virtual_key);
  std::string ReadLine(LineEcho& echo);
  // Takes one key: a byte, or a whole escape sequence, and returns its bytes. Returns at once,
  // with nothing, when input has ended.
  std::string TakeKey();
  // Takes in, without waiting, what was typed while the program did not read (during a pause):
  // keys typed ahead of any line, so a Ctrl+D among them ends nothing.
  void CollectTypedAhead();
  // For a modal box: waits for Enter, Space or Escape typed from now on; returns at end of input.
  void WaitForDismissKey();
  // Memory the keys typed but not yet taken hold; the run ends as soon as it passes the bound.
  size_t PendingMemory() const { return queue_.MemoryUse(); }

  static constexpr std::string_view kKeysExhaustedMessage =
      "quillomat: input ended before the key the program waits for was pressed";
  static constexpr std::string_view kInputLostMessage =
      "quillomat: the terminal went away or input could not be read; the run ends unsaved";

  // Input a poll may hold before it finds its key, and the longest line: far more than any
  // paste, far less than memory. Past either the run ends rather than grow without bound, with a
  // message that gives the bound.
  static constexpr size_t kMaxInputMebibytes = 16;
  static constexpr size_t kMaxInputBytes = kMaxInputMebibytes << 20;
  static std::string TooMuchInputMessage();
  static std::string LineTooLongMessage();

 private:
  // Waits for more input, handling screen events on the way; false on a timeout or the end of
  // input.
  bool Fill(int timeout_ms);
  bool WaitForWholeKey();
  std::string ReadEditedLine(LineEcho& echo);
  std::string ReadRawLine();

  ConsoleDevice& device_;
  Events& events_;
  size_t max_input_bytes_;
  PendingInput queue_;
  LineEditor editor_;
  std::string arrived_;  // the bytes of one read
  bool ended_ = false;
  bool line_being_read_ = false;
  int64_t looked_ms_ = 0;  // when the device was last read
  PollRound poll_round_;
  std::bitset<256> polled_after_end_;
};
