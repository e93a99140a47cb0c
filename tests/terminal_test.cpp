// The real program in a pseudo-terminal whose screen a terminal emulator reads, and with its input
// and output as pipes and files.
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/pty_terminal.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kTimeoutMs = 5000;
constexpr char kWelcomeLine[] = " Press N key to create a new text file.";

// A terminal in a legacy character set: xterm -en ISO-8859-1, say.
constexpr char kLatin1Locale[] = "en_US.ISO-8859-1";
constexpr char kLatin1Missing[] = "no en_US.ISO-8859-1 locale (scripts/install-locales makes it)";

bool HasLocale(const char* name) {
  const locale_t locale = newlocale(LC_CTYPE_MASK, name, locale_t{});
  if (locale == locale_t{}) return false;
  freelocale(locale);
  return true;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char byte) { return byte >= 0; });
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Count(std::string_view text, std::string_view part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// One run of the program in a 120 by 31 terminal, after a shell prompt.
struct Session {
  void StartAfterPrompt(std::string_view first_text = kWelcomeLine, PtyStreams streams = {}) {
    terminal.PrintAsShell("$ quillomat\n");
    modes_before = terminal.SlaveModes();
    terminal.Start({QUILLOMAT_PROGRAM}, dir.Path(), std::move(streams));
    ASSERT_TRUE(Shows(first_text));
  }

  testing::AssertionResult Shows(std::string_view text) {
    if (terminal.WaitForText(text, kTimeoutMs)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "never showed " << text << "\n" << terminal.ScreenDump();
  }

  bool Received(std::string_view bytes) {
    return terminal.WaitFor([&] { return terminal.Received().find(bytes) != std::string::npos; },
                            kTimeoutMs);
  }

  void ExpectModesRestored() {
    const termios now = terminal.SlaveModes();
    EXPECT_EQ(now.c_lflag, modes_before.c_lflag);
    EXPECT_EQ(now.c_iflag, modes_before.c_iflag);
    EXPECT_TRUE(std::equal(now.c_cc, now.c_cc + NCCS, modes_before.c_cc));
  }

  // As before the run: modes, the shell's screen, a visible cursor, default colours, ASCII (not
  // line pieces), a numeric keypad. A terminal without an alternate screen keeps the program's
  // screen, and the shell goes on below it, from the bottom row.
  void ExpectTerminalRestored() {
    ExpectModesRestored();
    const std::string& received = terminal.Received();
    const size_t numeric_keypad = received.rfind("\x1b>");
    EXPECT_TRUE(numeric_keypad != std::string::npos && numeric_keypad > received.rfind("\x1b="));
    EXPECT_FALSE(terminal.AltScreenActive());
    EXPECT_TRUE(terminal.CursorVisible());
    if (has_alt_screen) {
      EXPECT_EQ(terminal.RowText(0).substr(0, 11), "$ quillomat") << terminal.ScreenDump();
    } else {
      EXPECT_EQ(terminal.Cursor(), (std::pair{0, 30}));
      EXPECT_EQ(terminal.RowText(30), std::string(120, ' '));
    }
    terminal.PrintAsShell("q");
    const auto [column, row] = terminal.Cursor();
    EXPECT_EQ(terminal.ForegroundAt(column - 1, row), -1);
    EXPECT_EQ(terminal.CharAt(column - 1, row), U'q');
  }

  TempDir dir;
  PtyTerminal terminal{120, 31};
  termios modes_before{};
  bool has_alt_screen = true;
};

// The run a user makes: each screen as the terminal shows it, the document's bytes at each step.
// Under a locale whose name says UTF-8 the frames are the same box characters and typed UTF-8 is
// saved as typed; the digit picked, the last one too, colours the text.
TEST(Terminal, OneWholeRunScreenByScreenThenTheTerminalIsRestored) {
  struct Row {
    const char* locale;
    char digit;
    const char* text;  // typed after the digit
    int foreground;    // the palette index the digit's colour shows as
  };
  const Row rows[] = {{.locale = "C", .digit = '4', .text = "hello", .foreground = 1},  // red
                      {.locale = "C.UTF-8", .digit = '9', .text = "héllo 日本", .foreground = 12},
                      {.locale = "en_US.UTF-8", .digit = '4', .text = "日本語", .foreground = 1}};
  std::string missing;
  for (const auto& [locale, digit, text, foreground] : rows) {
    SCOPED_TRACE(locale);
    if (!HasLocale(locale)) {
      missing += std::string(" ") + locale;
      continue;
    }
    Session s;
    PtyTerminal& t = s.terminal;
    s.StartAfterPrompt(kWelcomeLine, {.locale = locale});
    EXPECT_TRUE(t.AltScreenActive());
    // Before each key, a late reply to a query another program sent (the terminal's version, a
    // graphics protocol's answer): no key, though it holds an n or a digit.
    t.Send("\x1bP>|Konsole 23.08.5\x1b\\n");
    ASSERT_TRUE(s.Shows("║  n "));    // the N pressed starts the name
    t.Send("\177d\x13i\x1b[Dary\r");  // Ctrl+S must not freeze the screen: it is dropped
    ASSERT_TRUE(s.Shows("║  The file has been saved as diary.txt        ║"));
    EXPECT_TRUE(std::filesystem::is_regular_file(s.dir.Path("txt/diary.txt")));
    EXPECT_EQ(s.dir.Read("txt/diary.txt"), "");

    ASSERT_TRUE(
        s.Shows("║ Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9 "));
    t.Send("\x1b_Gi=31;OK\x1b\\" + std::string(1, digit));
    ASSERT_TRUE(
        s.Shows("║ Enter your text and press enter to save it." + std::string(73, ' ') + "║"));
    ASSERT_TRUE(
        t.WaitFor([&] { return t.CharAt(1, 3) == static_cast<char32_t>(digit); }, kTimeoutMs));
    EXPECT_EQ(t.ForegroundAt(1, 3), foreground);
    t.Send(text + std::string("\r"));
    ASSERT_TRUE(s.Shows("║ file has been saved." + std::string(96, ' ') + "║"));
    EXPECT_EQ(s.dir.Read("txt/diary.txt"), digit + std::string(text));

    ASSERT_TRUE(s.Shows("║ Quillomat v1.0 by the Quillomat authors      ║"));
    EXPECT_EQ(t.RowText(9), std::string(120, ' '));  // nothing of the menu is left
    t.Send("q");
    ASSERT_TRUE(t.WaitForExit(kTimeoutMs));
    EXPECT_EQ(ExitCode(t.ExitStatus()), 0);
    EXPECT_EQ(s.dir.Entries(), (std::set<std::string>{"txt", "txt/diary.txt"}));
    s.ExpectTerminalRestored();
  }
  if (!missing.empty()) GTEST_SKIP() << "no locale" << missing << " (scripts/install-locales)";
}

// Every signal whose default action ends the process; a key sends it where there is one. Also on
// a terminal without an alternate screen; on one that stopped reading (a frozen link) after a few
// hundred resizes filled its buffer: the handler gives up on the screen there, and the process
// still ends at once, with the keyboard's modes put back; in a Latin-1 locale, whose terminal
// draws the frames with its DEC line-drawing set and reads keys a byte a character; and after a
// stop from outside (SIGSTOP, which the program cannot see) and a continue, which must draw the
// screen again: something else cleared it meanwhile.
TEST(Terminal, SignalsEndItTheDefaultWayWithTheTerminalRestored) {
  enum class Shown { kAltScreen, kNoAltScreen, kStalled, kLatin1, kStoppedFromOutside };
  struct Row {
    int signal_number;
    const char* key;
    Shown shown = Shown::kAltScreen;
  };
  std::vector<Row> signals = {{SIGINT, "\x03"}, {SIGQUIT, "\x1c"}, {SIGTERM, ""}, {SIGHUP, ""},
                              {SIGUSR1, ""},    {SIGUSR2, ""},     {SIGALRM, ""}, {SIGVTALRM, ""},
                              {SIGPROF, ""},    {SIGXCPU, ""},     {SIGSYS, ""}};
  signals.insert(signals.end(), {{SIGINT, "\x03", Shown::kNoAltScreen},
                                 {SIGTERM, "", Shown::kStalled},
                                 {SIGINT, "\x03", Shown::kLatin1},
                                 {SIGTERM, "", Shown::kStoppedFromOutside}});
#if defined(SIGRTMIN) && defined(SIGRTMAX)  // macOS has no real-time signals
  signals.insert(signals.end(), {{SIGRTMIN + 1, ""}, {SIGRTMAX, ""}});
#endif
  for (const auto& [signal_number, key, shown] : signals) {
    const char* const on[] = {"", " without an alternate screen", " on a stalled terminal",
                              " in Latin-1", " after a stop from outside"};
    SCOPED_TRACE(strsignal(signal_number) + std::string(on[static_cast<int>(shown)]));
    Session s;
    s.has_alt_screen = shown != Shown::kNoAltScreen;
    if (!s.has_alt_screen) s.terminal.WithoutAltScreen();
    if (shown == Shown::kLatin1) {
      if (!HasLocale(kLatin1Locale)) GTEST_SKIP() << kLatin1Missing;
      s.terminal.ReadAsLatin1();
      s.StartAfterPrompt(kWelcomeLine, {.locale = kLatin1Locale});
      // Single lines stand for the double ones, which the set lacks; not one UTF-8 byte.
      EXPECT_TRUE(s.Shows("┌──────"));
      EXPECT_TRUE(s.Shows("│                  Quillomat"));
      EXPECT_TRUE(s.Shows("├──────"));
      EXPECT_EQ(s.terminal.CharAt(47, 8), U'┘');
      EXPECT_TRUE(IsAscii(s.terminal.Received()));
      // Typed Latin-1 shows a character a byte, the cursor just after it.
      s.terminal.Send("n\xf6\xe9");
      EXPECT_TRUE(s.Shows("nöé "));
      const auto [column, row] = s.terminal.Cursor();
      EXPECT_EQ(s.terminal.CharAt(column - 1, row), U'é');
    } else {
      s.StartAfterPrompt();
    }
    if (shown == Shown::kStalled) {
      s.terminal.StopReading();
      for (int resize = 0; resize < 300; ++resize) {
        s.terminal.Resize(120 - resize % 2, 31);
        usleep(2000);
      }
    }
    if (shown == Shown::kStoppedFromOutside) {
      s.terminal.Signal(SIGSTOP);
      ASSERT_TRUE(s.terminal.WaitForStop(kTimeoutMs));
      // Cleared, not resized: a resize would redraw the screen on its own.
      s.terminal.PrintAsShell("\x1b[H\x1b[2J");
      ASSERT_TRUE(s.terminal.WaitFor([&] { return s.terminal.CharAt(47, 8) == U' '; }, kTimeoutMs));
      s.terminal.Signal(SIGCONT);
      EXPECT_TRUE(s.Shows(kWelcomeLine));
    }
    *key ? s.terminal.Send(key) : s.terminal.Signal(signal_number);
    ASSERT_TRUE(s.terminal.WaitForExit(kTimeoutMs));
    EXPECT_TRUE(WIFSIGNALED(s.terminal.ExitStatus()));
    EXPECT_EQ(WTERMSIG(s.terminal.ExitStatus()), signal_number);
    shown == Shown::kStalled ? s.ExpectModesRestored() : s.ExpectTerminalRestored();
  }
}

// Builds with AddressSanitizer reserve far more address space than any small limit allows.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// Limits the system sets. Output to a file past its size limit: the write that fails raises
// SIGXFSZ, which ends the program the default way. Memory that runs out (a 15 MB line under a
// 16 MiB address space): the run ends as a fatal error, with one message and status 1. Either way
// the terminal's modes are put back and the document is as it was.
TEST(Terminal, FileSizeAndMemoryLimitsEndItWithTheTerminalRestored) {
  for (const bool out_of_memory : {false, true}) {
    SCOPED_TRACE(out_of_memory ? "out of memory" : "file size limit");
    if (out_of_memory && kSanitized) GTEST_SKIP() << "no address space limit under a sanitizer";
    Session s;
    s.dir.Write("txt/ndoc.txt", "an older entry");
    if (out_of_memory) {
      s.StartAfterPrompt(kWelcomeLine, {.stdin_from_pipe = true,
                                        .stderr_file = s.dir.Path("err"),
                                        .address_space_limit = 16 << 20});
      s.terminal.WriteStdin("ndoc\n4" + std::string(15'000'000, 'x') + "\nq");
      s.terminal.CloseStdin();
    } else {
      s.modes_before = s.terminal.SlaveModes();
      s.terminal.Start({QUILLOMAT_PROGRAM}, s.dir.Path(),
                       {.stdout_file = s.dir.Path("out"), .file_size_limit = 0});
    }
    ASSERT_TRUE(s.terminal.WaitForExit(2 * kTimeoutMs));
    EXPECT_EQ(s.dir.Read("txt/ndoc.txt"), "an older entry");
    if (out_of_memory) {
      EXPECT_EQ(ExitCode(s.terminal.ExitStatus()), 1);
      EXPECT_EQ(s.dir.Read("err"), "Out of memory.\n");
      EXPECT_EQ(s.dir.Entries(), (std::set<std::string>{"err", "txt", "txt/ndoc.txt"}));
      s.ExpectTerminalRestored();
    } else {
      EXPECT_TRUE(WIFSIGNALED(s.terminal.ExitStatus()));
      EXPECT_EQ(WTERMSIG(s.terminal.ExitStatus()), SIGXFSZ);
      s.ExpectModesRestored();
    }
  }
}

// Under nohup a closed terminal is no end of input: wherever the run waits, for N, a digit or a
// line, the run fails, and the half-typed line must not replace the document.
TEST(Terminal, AHangUpEndsTheRunUnsavedWhereverItWaits) {
  // Keys typed before the hang-up, each with what it shows.
  const std::pair<const char*, const char*> keys[] = {{"n", "║  n "},
                                                      {"\177diary\r", "Select a text color"},
                                                      {"4", "Enter your text"},
                                                      {"hel", "4hel"}};
  for (const size_t typed : {0, 2, 4}) {
    SCOPED_TRACE(typed);
    Session s;
    s.dir.Write("txt/diary.txt", "an older entry");
    s.StartAfterPrompt(kWelcomeLine,
                       {.stderr_file = s.dir.Path("err"), .ignored_signals = {SIGHUP}});
    for (size_t key = 0; key < typed; ++key) {
      s.terminal.Send(keys[key].first);
      ASSERT_TRUE(s.Shows(keys[key].second));
    }
    s.terminal.HangUp();
    ASSERT_TRUE(s.terminal.WaitForExit(kTimeoutMs));
    EXPECT_EQ(ExitCode(s.terminal.ExitStatus()), 1);
    EXPECT_EQ(s.dir.Read("txt/diary.txt"), "an older entry");
    EXPECT_NE(s.dir.Read("err").find("went away"), std::string::npos) << s.dir.Read("err");
    EXPECT_EQ(s.dir.Entries(), (std::set<std::string>{"err", "txt", "txt/diary.txt"}));
  }
}

// A terminal that cannot move its cursor gets plain text, as a file would, and not one escape
// byte; keys are still read raw and echoed. (The frames in a legacy locale are PipedRun's.) The
// runs go on side by side.
TEST(Terminal, WithoutCursorControlTextsArePlainKeysAreEchoedAndTheRunSaves) {
  const std::vector<std::string> settings[] = {{"TERM=dumb"}, {"TERM"}, {"TERM="}};
  std::vector<Session> sessions(std::size(settings));
  for (size_t i = 0; i < std::size(settings); ++i) {
    sessions[i].modes_before = sessions[i].terminal.SlaveModes();
    sessions[i].terminal.Start({QUILLOMAT_PROGRAM}, sessions[i].dir.Path(),
                               {.environment = settings[i]});
  }
  // What each screen shows, then the keys typed at it.
  const std::pair<const char*, const char*> steps[] = {
      {kWelcomeLine, "n"},
      {" Name your file.", "otez\x7fs\r"},
      {"Select a text color", "4"},
      {"Enter your text", "hello\r"},
      {" Quillomat v1.0 by the Quillomat authors", "q"}};
  for (const auto& [shown, keys] : steps) {
    for (size_t i = 0; i < std::size(settings); ++i) {
      SCOPED_TRACE(testing::PrintToString(settings[i]));
      ASSERT_TRUE(sessions[i].Received(shown));
      sessions[i].terminal.Send(keys);
    }
  }
  for (size_t i = 0; i < std::size(settings); ++i) {
    SCOPED_TRACE(testing::PrintToString(settings[i]));
    Session& s = sessions[i];
    ASSERT_TRUE(s.terminal.WaitForExit(kTimeoutMs));
    EXPECT_EQ(ExitCode(s.terminal.ExitStatus()), 0);
    EXPECT_EQ(s.dir.Read("txt/notes.txt"), "4hello");
    const std::string& received = s.terminal.Received();
    EXPECT_EQ(received.find('\x1b'), std::string::npos) << received;
    EXPECT_NE(received.find("otez\b \bs\r"), std::string::npos) << received;
    EXPECT_NE(received.find("4hello\r"), std::string::npos) << received;
    EXPECT_NE(received.find("The file has been saved as notes.txt"), std::string::npos);
    EXPECT_NE(received.find("╔═════"), std::string::npos) << received;
    s.ExpectModesRestored();
  }
}

// Ctrl+Z, then fg, under a shell with job control: the program enters its screen once more, no
// more, and draws it again. Left stopped again under the shell, both end with the test.
TEST(Terminal, StoppedFromAShellAndResumedWithFgItComesBackOnce) {
  pid_t session = 0;
  {
    Session s;
    PtyTerminal& t = s.terminal;
    t.Start({"/bin/bash", "--norc", "--noprofile", "-i"}, s.dir.Path(),
            {.environment = {"PS1=$ ", "HISTFILE=/dev/null"}});
    ASSERT_TRUE(s.Shows("$ "));
    t.Send(std::string(QUILLOMAT_PROGRAM) + "\r");
    ASSERT_TRUE(s.Shows(kWelcomeLine));
    t.Send("\x1a");
    ASSERT_TRUE(s.Shows("Stopped"));
    EXPECT_FALSE(t.AltScreenActive());
    const size_t before_fg = t.BytesReceived();
    t.Send("fg\r");
    ASSERT_TRUE(t.WaitFor(
        [&] {
          return t.Received().find("\x1b[2J", before_fg) != std::string::npos &&
                 t.ScreenDump().find(kWelcomeLine) != std::string::npos;
        },
        kTimeoutMs))
        << t.ScreenDump();
    const std::string_view after_fg = std::string_view(t.Received()).substr(before_fg);
    EXPECT_EQ(Count(after_fg, "\x1b[?1049h"), 1);
    EXPECT_EQ(Count(after_fg, "\x1b[2J"), 1);
    EXPECT_TRUE(t.AltScreenActive());
    t.Send("n");  // it goes on where it was
    ASSERT_TRUE(s.Shows("║  n "));
    t.Send("\x1a");
    ASSERT_TRUE(t.WaitFor([&] { return !t.AltScreenActive(); }, kTimeoutMs));
    session = t.SessionId();
  }
  EXPECT_EQ(LiveProcessesOfSession(session), std::vector<pid_t>{});
}

// Resizing, and a suspend that no shell resumes (so the program carries on at once), both
// redraw the screen from scratch.
TEST(Terminal, SmallTerminalShowsWhatFitsAndResizeAndSuspendRedraw) {
  Session s;
  s.terminal.Resize(30, 8);
  s.StartAfterPrompt("Press N key to create");
  s.terminal.Resize(120, 31);
  ASSERT_TRUE(s.terminal.WaitFor([&] { return s.terminal.CharAt(47, 8) == U'╝'; }, kTimeoutMs));
  const size_t drawn = s.terminal.BytesReceived();
  s.terminal.Signal(SIGTSTP);
  ASSERT_TRUE(
      s.terminal.WaitFor([&] { return s.terminal.BytesReceived() > drawn + 600; }, kTimeoutMs));
  EXPECT_TRUE(s.terminal.AltScreenActive());
  EXPECT_TRUE(s.Shows(kWelcomeLine));
}

// The program with its input from a pipe, and its output and errors in files of its folder
// unless the streams say otherwise.
struct PipedRun {
  void Start(const std::string& input, PtyStreams streams = {}) {
    streams.stdin_from_pipe = true;
    if (streams.stdout_file.empty()) streams.stdout_file = dir.Path("out");
    if (streams.stderr_file.empty()) streams.stderr_file = dir.Path("err");
    terminal.Start({QUILLOMAT_PROGRAM}, dir.Path(), std::move(streams));
    terminal.WriteStdin(input);
    terminal.CloseStdin();
  }

  void Finish() {
    EXPECT_TRUE(terminal.WaitForExit(2 * kTimeoutMs));
    EXPECT_EQ(terminal.BytesReceived(), 0u) << "wrote to the terminal";
    exit_code = ExitCode(terminal.ExitStatus());
    out = dir.Read("out");
    err = dir.Read("err");
  }

  TempDir dir;
  PtyTerminal terminal{120, 31};
  int exit_code = -1;
  std::string out;
  std::string err;
};

// The frames in the locale's own line characters where its character set has them (KOI8-R), in
// ASCII where it has none (Latin-1); the name in the notice as the locale reads its bytes; the
// line saved is the bytes typed whatever the locale. The runs go on side by side.
TEST(PipedRun, AWholeRunSavesTheLineAndWritesTheTextsInOrderWithoutEscapes) {
  using Glyphs = std::vector<std::pair<std::string, std::string>>;
  struct Locale {
    std::string name;
    Glyphs frame_glyphs;
    std::string notice;  // the name typed is "nd\xe9j\xe0": déjà in Latin-1, ndИjЮ in KOI8-R
  };
  const std::string utf8_notice = " The file has been saved as nd\uFFFDj\uFFFD.txt\n╔";
  const std::string legacy_notice = " The file has been saved as nd\xe9j\xe0.txt\n";
  const Locale all_locales[] = {
      {"C", {}, utf8_notice},
      {kLatin1Locale,
       {{"╔", "+"}, {"╗", "+"}, {"╝", "+"}, {"═", "-"}, {"║", "|"}},
       legacy_notice + "+"},
      {"ru_RU.KOI8-R",
       {{"╔", "\xA5"}, {"╗", "\xA8"}, {"╝", "\xAE"}, {"═", "\xA0"}, {"║", "\xA1"}},
       legacy_notice + "\xA5"}};
  std::vector<Locale> locales;
  std::string missing;
  for (const Locale& locale : all_locales) {
    if (locale.name.find('.') == std::string::npos || HasLocale(locale.name.c_str())) {
      locales.push_back(locale);
    } else {
      missing += " " + locale.name;
    }
  }
  std::vector<PipedRun> runs(locales.size());
  for (size_t i = 0; i < locales.size(); ++i)
    runs[i].Start("nd\xe9j\xe0\n4h\xe9llo\nq", {.locale = locales[i].name});
  for (size_t i = 0; i < locales.size(); ++i) {
    const auto& [locale, frame_glyphs, notice] = locales[i];
    SCOPED_TRACE(locale);
    PipedRun& run = runs[i];
    run.Finish();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.dir.Read("txt/nd\xe9j\xe0.txt"), "4h\xe9llo");
    size_t from = 0;
    for (const char* part : std::initializer_list<const char*>{
             "╔═", "╗║", "╝", "Quillomat", " Press N key to create a new text file.",
             " Saved files are stored in Quillomat/txt/ ", "╔", "╝", "Quillomat",
             " Name your file.", nullptr /* the notice */,
             "Select a text color and press the corresponding key: 1 2 3 4 5 6 7 8 9 ",
             "Enter your text and press enter to save it.", "file has been saved.", "╔", "╝",
             " Quillomat v1.0 by the Quillomat authors"}) {
      std::string wanted = part != nullptr ? part : notice;
      for (const auto& [utf8, shown] : frame_glyphs) {
        for (size_t at; (at = wanted.find(utf8)) != std::string::npos;)
          wanted.replace(at, utf8.size(), shown);
      }
      from = run.out.find(wanted, from);
      ASSERT_NE(from, std::string::npos) << "missing in order: " << wanted << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    std::string out = run.out;
    out.erase(out.find(notice), notice.size());
    EXPECT_EQ(IsAscii(out), locale == kLatin1Locale) << out;
  }
  if (!missing.empty()) GTEST_SKIP() << "no locale" << missing << " (scripts/install-locales)";
}

// A closed standard input reads as an empty one.
TEST(PipedRun, InputEndingBeforeNEndsTheRunWithStatusOneAndOneLine) {
  const std::pair<std::string, std::vector<int>> inputs[] = {
      {"", {}}, {"xyz", {}}, {"\x1b[A\r\n", {}}, {"", {STDIN_FILENO}}};
  for (const auto& [input, closed_fds] : inputs) {
    SCOPED_TRACE(testing::PrintToString(input) + (closed_fds.empty() ? "" : " closed"));
    PipedRun run;
    run.Start(input, {.closed_fds = closed_fds});
    run.Finish();
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("input ended"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.dir.Entries(), (std::set<std::string>{"err", "out", "txt"}));
  }
}

// Output that goes nowhere (closed, a pipe nobody reads, a full device) does not stop the run:
// the document is saved all the same. The runs go on side by side.
TEST(PipedRun, OutputThatGoesNowhereDoesNotStopTheRun) {
  std::vector<std::pair<const char*, PtyStreams>> outputs = {
      {"closed", {.closed_fds = {STDOUT_FILENO}}},
      {"pipe closed early", {.stdout_to_closed_pipe = true}}};
  // Not every system has a device that is always full (macOS has none).
  if (std::filesystem::exists("/dev/full")) {
    outputs.push_back({"full device", {.stdout_file = "/dev/full"}});
  }
  std::vector<PipedRun> runs(outputs.size());
  for (size_t i = 0; i < std::size(outputs); ++i)
    runs[i].Start("ndiary\n4hello\nq", outputs[i].second);
  for (size_t i = 0; i < std::size(outputs); ++i) {
    SCOPED_TRACE(outputs[i].first);
    runs[i].Finish();
    EXPECT_EQ(runs[i].exit_code, 0) << runs[i].err;
    EXPECT_EQ(runs[i].err, "");
    EXPECT_EQ(runs[i].dir.Read("txt/ndiary.txt"), "4hello");
  }
}

}  // namespace
