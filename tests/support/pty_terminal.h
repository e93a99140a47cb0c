// Runs a program in a pseudo-terminal and reads the screen it draws through libvterm.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct VTerm;

// Where the child's standard streams go (the pty, unless a pipe or a file is asked for), and what
// else it starts with.
struct PtyStreams {
  bool stdin_from_pipe = false;  // fed with WriteStdin, ended with CloseStdin
  std::string stdout_file = {};
  std::string stderr_file = {};
  bool stdout_to_closed_pipe = false;  // a pipe nobody reads any more: writes fail with EPIPE
  std::vector<int> closed_fds = {};    // closed after the streams are in place
  std::string locale = "C";            // LC_ALL: C's text goes out in UTF-8, which libvterm reads
  // "NAME=value" sets, "NAME" unsets; TERM is xterm-256color unless set here.
  std::vector<std::string> environment = {};
  std::vector<int> ignored_signals = {};  // as nohup or trap '' would leave them
  long long file_size_limit = -1;         // RLIMIT_FSIZE in bytes, or none
  long long address_space_limit = -1;     // RLIMIT_AS in bytes, or none
};

// The processes of a session still running (not zombies), where /proc tells; else the leader.
std::vector<pid_t> LiveProcessesOfSession(pid_t session);

class PtyTerminal {
 public:
  PtyTerminal(int columns, int rows);
  // Ends every process of the program's session, whatever the test's outcome: a terminate, then
  // a kill for any left after a short grace. Were the tests to die first, the program gets a kill.
  ~PtyTerminal();
  PtyTerminal(const PtyTerminal&) = delete;
  PtyTerminal& operator=(const PtyTerminal&) = delete;

  // Reads what the program writes as a terminal set up for Latin-1 (ISO-8859-1) would, each byte
  // one character, rather than as UTF-8.
  void ReadAsLatin1() { latin1_ = true; }
  // A terminal without an alternate screen (the Linux console, GNU screen's default): the modes
  // that switch to it, and save and restore the cursor with it, do nothing. Call before Start.
  void WithoutAltScreen();
  // Output as a shell would print it before the program starts.
  void PrintAsShell(std::string_view bytes);
  // Starts argv[0] in `dir` as a new session with the pty as its controlling terminal.
  void Start(const std::vector<std::string>& argv, const std::string& dir, PtyStreams streams = {});
  void Send(std::string_view keys);
  // Stops at the first byte the program does not take, should it end before reading them all.
  void WriteStdin(std::string_view bytes);
  void CloseStdin();
  void Resize(int columns, int rows);  // the kernel tells the program with SIGWINCH
  void Signal(int signal_number);
  void HangUp();  // closes the master side, as when the terminal window closes
  // Reads nothing more from the program, as a frozen link: its writes fill the terminal's buffer.
  void StopReading() { reading_ = false; }

  bool WaitFor(const std::function<bool()>& done, int timeout_ms);
  bool WaitForText(std::string_view utf8, int timeout_ms);
  bool WaitForExit(int timeout_ms);
  bool WaitForStop(int timeout_ms);           // by SIGSTOP, say
  int ExitStatus() const { return status_; }  // as waitpid gives it
  pid_t SessionId() const { return pid_; }    // the program leads its session

  std::string RowText(int row);
  char32_t CharAt(int column, int row);
  int ForegroundAt(int column, int row);  // -1: the terminal's default, else the palette index
  std::pair<int, int> Cursor();           // column, row
  bool CursorVisible() const { return cursor_visible_; }
  bool AltScreenActive() const { return alt_screen_; }
  termios SlaveModes() const;
  size_t BytesReceived() const { return received_.size(); }
  const std::string& Received() const { return received_; }  // every byte, as sent
  std::string ScreenDump();

 private:
  void Pump();
  void Feed(std::string_view bytes);

  int columns_;
  int rows_;
  int master_fd_ = -1;
  int slave_fd_ = -1;
  int stdin_fd_ = -1;
  pid_t pid_ = -1;
  int status_ = -1;
  std::string received_;
  VTerm* vterm_ = nullptr;
  bool cursor_visible_ = true;
  bool alt_screen_ = false;
  bool latin1_ = false;
  bool has_alt_screen_ = true;
  bool reading_ = true;
  std::string unfed_;  // what may be the start of an alternate screen mode, held back
};
