#include "console/input/pending_input.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr unsigned char kCtrlD = 0x04;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kDelete = 0x7F;

// Telnet, some serial terminals and scripts send Enter as CR LF or CR NUL.
bool IsRestOfEnter(char byte) {
  return byte == '\n' || byte == '\0';
}

// A key the line editor adds to the line as it is.
bool IsText(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return (value >= 0x20 && value != kDelete) || value == kTab;
}

// The virtual key a typed byte means, or 0.
constexpr int VirtualKeyOf(unsigned char byte) {
  if (byte >= 'a' && byte <= 'z') return byte - 'a' + 'A';
  if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')) return byte;
  return 0;
}

// Outside a sequence, a byte is a plain key when it is a key of its own and does nothing more
// than be queued: not the Escape that starts a sequence, nor a CR an LF may join, nor a Ctrl+D
// that may be kept as typed ahead. For each byte: kNotPlain, or the virtual key it presses, or 0.
constexpr uint8_t kNotPlain = 0xFF;
constexpr std::array<uint8_t, 256> kPlainKeys = [] {
  std::array<uint8_t, 256> keys{};
  for (int byte = 0; byte < 256; ++byte) {
    keys[byte] = static_cast<uint8_t>(VirtualKeyOf(static_cast<unsigned char>(byte)));
  }
  keys[kEscape] = keys[kCarriageReturn] = keys[kCtrlD] = kNotPlain;
  return keys;
}();

}  // namespace

void PendingInput::Append(std::string_view bytes, int64_t now_ms, int64_t unseen_since_ms,
                          bool line_being_read) {
  if (bytes.empty()) return;
  line_being_read_ = line_being_read;
  int64_t gap_ms = now_ms - last_arrival_ms_;
  // Bytes that waited unseen may have come right after the ones before, or long after. For an
  // Escape's next byte the later counts, so that keys come out as typed; for the rest of an
  // Enter the earlier, as a stray LF or NUL would end a line or dismiss a box unseen.
  int64_t least_gap_ms = unseen_since_ms - last_arrival_ms_;
  last_arrival_ms_ = now_ms;
  while (!bytes.empty()) {
    // A paste comes as runs of such bytes, each a key: they are queued a run at a time.
    if (!reader_.InSequence() && !enter_may_go_on_) {
      if (const size_t run = AppendPlainKeys(bytes); run > 0) {
        bytes.remove_prefix(run);
        gap_ms = least_gap_ms = 0;
        continue;
      }
    }
    const char byte = bytes.front();
    bytes.remove_prefix(1);
    // Its second byte belongs to the Enter only when it comes with the CR, as one key's bytes
    // do: an LF typed later is an Enter of its own.
    const bool rest_of_enter =
        enter_may_go_on_ && IsRestOfEnter(byte) && least_gap_ms <= kAltWaitMilliseconds;
    enter_may_go_on_ = false;
    if (rest_of_enter) {
      JoinEnter(byte);
    } else {
      bytes_.push_back(byte);
      ++arrived_;
      reader_.Feed(static_cast<unsigned char>(byte), gap_ms,
                   [this](size_t length, KeyKind kind, unsigned char last_byte) {
                     OnKey(length, kind, last_byte);
                   });
    }
    gap_ms = least_gap_ms = 0;  // the rest of a read came together
  }
}

// Keys of a byte each, as KeyReader would make them one by one: the presses are noted on the way.
size_t PendingInput::AppendPlainKeys(std::string_view bytes) {
  size_t run = 0;
  for (; run < bytes.size(); ++run) {
    const uint8_t key = kPlainKeys[static_cast<unsigned char>(bytes[run])];
    if (key == kNotPlain) break;
    if (key != 0) pressed_until_[key] = arrived_ + run + 1;
  }
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + static_cast<long>(run));
  arrived_ += run;
  sorted_ += run;
  return run;
}

// While its CR is queued, the byte makes one key with it. Once the CR has been taken, that Enter
// has done its work, and the byte goes with it rather than act as a second Enter.
void PendingInput::JoinEnter(char byte) {
  if (bytes_.empty()) return;
  marks_.push_back({arrived_ - 1, 2, KeyKind::kCharacter});
  bytes_.push_back(byte);
  ++arrived_;
  ++sorted_;
}

void PendingInput::EndSequence() {
  reader_.EndSequence([this](size_t length, KeyKind kind, unsigned char last_byte) {
    OnKey(length, kind, last_byte);
  });
}

void PendingInput::Discard() {
  PendingInput fresh;
  fresh.last_arrival_ms_ = last_arrival_ms_;
  fresh.enter_may_go_on_ = enter_may_go_on_;
  *this = std::move(fresh);
}

int64_t PendingInput::SequenceWaitLeft(int64_t now_ms) const {
  return std::max<int64_t>(reader_.SequenceWaitMilliseconds() - (now_ms - last_arrival_ms_), 0);
}

void PendingInput::OnKey(size_t length, KeyKind kind, unsigned char last_byte) {
  const uint64_t start = sorted_;
  sorted_ += length;
  enter_may_go_on_ = kind == KeyKind::kCharacter && length == 1 && last_byte == kCarriageReturn;
  if (kind == KeyKind::kCharacter && last_byte == kCtrlD && !line_being_read_) {
    kind = KeyKind::kEarlyCtrlD;
  }
  if (kind != KeyKind::kCharacter) {
    marks_.push_back({start, static_cast<uint32_t>(length), kind});
  }
  if (kind == KeyKind::kCharacter || kind == KeyKind::kAlt) {
    if (const int key = VirtualKeyOf(last_byte)) pressed_until_[key] = sorted_;
  }
}

Key PendingInput::TakeKey() {
  Key key{{}, KeyKind::kCharacter};
  size_t length = 1;
  if (!marks_.empty() && marks_.front().start <= FrontArrival()) {
    const Mark& mark = marks_.front();
    key.kind = mark.kind;
    length = mark.start + mark.length - FrontArrival();  // less any bytes taken as data
  }
  key.bytes.assign(bytes_.begin(), bytes_.begin() + static_cast<long>(length));
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(length));
  DropPassedMarks();
  return key;
}

void PendingInput::TakeText(size_t most, std::string& text) {
  text.clear();
  uint64_t end = std::min<uint64_t>(sorted_, FrontArrival() + most);
  if (!marks_.empty()) end = std::min(end, marks_.front().start);
  if (end <= FrontArrival()) return;
  const auto available = static_cast<size_t>(end - FrontArrival());
  // Copied out a growing piece at a time, and looked through there, in one piece of memory: a
  // run costs about its length, however much is queued after it.
  size_t length = 0;
  for (size_t piece = 64; length == text.size() && length < available; piece *= 2) {
    const size_t more = std::min(piece, available - length);
    text.resize(length + more);
    std::copy_n(bytes_.begin() + static_cast<long>(length), more,
                text.begin() + static_cast<long>(length));
    length =
        static_cast<size_t>(std::find_if_not(text.begin() + static_cast<long>(length), text.end(),
                                             [](char byte) { return IsText(byte); }) -
                            text.begin());
  }
  text.resize(length);
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(length));
}

unsigned char PendingInput::TakeByte() {
  const auto byte = static_cast<unsigned char>(bytes_.front());
  bytes_.pop_front();
  enter_may_go_on_ = false;  // input read as data keeps every byte, the LF after a CR too
  DropPassedMarks();
  return byte;
}

void PendingInput::DropPassedMarks() {
  while (!marks_.empty() && marks_.front().start + marks_.front().length <= FrontArrival()) {
    marks_.pop_front();
  }
}

bool PendingInput::PollKey(int virtual_key) {
  const auto key = static_cast<size_t>(virtual_key & 0xFF);
  const uint64_t pressed_until = pressed_until_[key];
  const bool pressed = pressed_until > std::max(polled_until_[key], FrontArrival());
  polled_until_[key] = arrived_;
  return pressed;
}
