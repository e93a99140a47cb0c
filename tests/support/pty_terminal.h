// Test harness: runs a program inside a pseudo-terminal and reads its screen through libvterm.
#ifndef QUILLOMAT_TESTS_SUPPORT_PTY_TERMINAL_H_
#define QUILLOMAT_TESTS_SUPPORT_PTY_TERMINAL_H_

#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace quillomat_test {

// Where one of the child's standard streams is connected.
struct Redirect {
  enum class Kind { kPty, kFd, kFile, kPipe };

  static Redirect Pty() { return {Kind::kPty, -1, {}}; }
  // Duplicates a caller-owned fd; the caller keeps ownership. Open it with O_CLOEXEC, or the child
  // inherits the caller's copy as well (a pipe's write end kept that way would hide EOF).
  static Redirect Fd(int fd) { return {Kind::kFd, fd, {}}; }
  // stdin: opened read-only; stdout/stderr: created or truncated, mode 0644.
  static Redirect File(std::string path) { return {Kind::kFile, -1, std::move(path)}; }
  // stdin only: a pipe owned by the harness, fed with WriteStdin() and closed with CloseStdin().
  static Redirect Pipe() { return {Kind::kPipe, -1, {}}; }

  Kind kind = Kind::kPty;
  int fd = -1;
  std::string path;
};

struct StartOptions {
  Redirect stdin_from = Redirect::Pty();
  Redirect stdout_to = Redirect::Pty();
  Redirect stderr_to = Redirect::Pty();
  // TERM for the child; libvterm understands the xterm sequences. Empty keeps the inherited value.
  std::string term = "xterm-256color";
  // Extra "NAME=value" entries; they replace inherited variables of the same name.
  std::vector<std::string> env;
};

// One screen cell. Colours: -1 is the terminal default, 0..255 a palette index, kRgbColour a
// direct 24-bit colour (SGR 38;2 / 48;2).
struct Cell {
  static constexpr int kRgbColour = -2;

  char32_t ch = U' ';  // U' ' for an empty cell, 0 for the right half of a wide character
  int fg = -1;
  int bg = -1;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool reverse = false;
};

class PtyTerminal {
 public:
  struct Pos {
    int col;
    int row;
  };

  // Opens a cols x rows pty and a libvterm screen of the same size. Throws std::runtime_error.
  PtyTerminal(int cols, int rows);
  // Kills (SIGKILL) and reaps a child still running.
  ~PtyTerminal();

  PtyTerminal(const PtyTerminal&) = delete;
  PtyTerminal& operator=(const PtyTerminal&) = delete;

  // Writes to the slave side as a shell would (e.g. a prompt), then pumps it into the screen.
  // The slave's output processing applies, so "\n" arrives as "\r\n".
  void PrintAsShell(std::string_view bytes);

  // Forks and execs argv[0] (a path, no PATH search) in `dir` as a new session whose controlling
  // terminal is the pty. Throws std::runtime_error if a redirect cannot be opened or exec fails.
  void Start(const std::vector<std::string>& argv, const std::string& dir,
             const StartOptions& options = {});

  // Typed keys: written to the master. Keeps pumping output so a child blocked on writing cannot
  // deadlock us; throws std::runtime_error if the bytes cannot be written within 5 s.
  void Send(std::string_view keys);
  // Feeds the Redirect::Pipe() stdin; same timeout rule as Send().
  void WriteStdin(std::string_view bytes);
  void CloseStdin();  // the child then sees EOF

  // Resizes the pty (the kernel sends SIGWINCH to the foreground process group) and the screen.
  void Resize(int cols, int rows);
  void Signal(int sig);

  // Reads whatever output is available without blocking and feeds it to libvterm.
  void Pump();
  // Pump output until `done()` holds or `timeout_ms` passes; returns whether it held.
  bool WaitFor(const std::function<bool()>& done, int timeout_ms);
  // Anywhere on the screen; rows are searched as one string, so text wrapped across rows matches.
  bool WaitForText(std::string_view utf8, int timeout_ms);
  // Reaps the child, then drains the output it wrote before exiting.
  bool WaitForExit(int timeout_ms);
  bool Running() const { return pid_ > 0 && !exited_; }
  pid_t ChildPid() const { return pid_; }
  // Raw waitpid status (use WIFEXITED etc.); -1 until the child has been reaped.
  int ExitStatus() const { return exited_ ? status_ : -1; }

  // Screen reading; each call pumps pending output first. Coordinates are 0-based.
  int Cols() const { return cols_; }
  int Rows() const { return rows_; }
  // UTF-8 text of a row, full width; empty cells read as spaces, a wide character appears once.
  std::string RowText(int row);
  Cell CellAt(int col, int row);
  char32_t CharAt(int col, int row) { return CellAt(col, row).ch; }
  int ForegroundAt(int col, int row) { return CellAt(col, row).fg; }
  int BackgroundAt(int col, int row) { return CellAt(col, row).bg; }
  Pos Cursor();
  bool CursorVisible();
  bool AltScreenActive();
  // All rows joined with '\n', trailing blanks trimmed: meant for failure messages.
  std::string ScreenDump();

  termios SlaveModes() const;  // tcgetattr on the slave, valid after the child exits
  size_t BytesReceived() const { return bytes_received_; }

 private:
  friend struct VtermHooks;  // libvterm callbacks, defined in the .cpp

  void OpenPty();
  void SetUpVterm();
  bool ReadAvailable();
  void DrainOutput();
  void FlushReplies();
  std::string ReadRow(int row) const;
  std::string ScreenText() const;
  void WriteWhilePumping(int fd, std::string_view bytes);
  bool TryReap(int options);
  void KillChild();
  static void CloseFd(int& fd);

  int cols_;
  int rows_;
  int master_fd_ = -1;
  int slave_fd_ = -1;
  std::string slave_path_;
  int stdin_writer_fd_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
  size_t bytes_received_ = 0;
  std::string pending_replies_;  // terminal answers (e.g. to DSR) not yet written to the master

  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  bool cursor_visible_ = true;
  bool alt_screen_ = false;
};

}  // namespace quillomat_test

#endif  // QUILLOMAT_TESTS_SUPPORT_PTY_TERMINAL_H_
