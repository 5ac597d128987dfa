// The status line as a user at a terminal sees it, through a
// pseudo-terminal, and not a byte of it where standard error is
// redirected. QUARNEL_PROGRESS_DELAY=0 shows it from the start, so that a
// job of a fraction of a second draws it at least once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

constexpr int kColumns = 100;

struct TerminalRun {
  int exit_code = -1;
  std::string screen;  // every byte written to the terminal
};

// Runs the program with its three standard streams on a new terminal of
// kColumns columns that passes bytes unchanged (no CR added to a LF).
// With interrupt_at, the program gets a SIGINT once the terminal has
// shown that text, as Ctrl-C would give it.
TerminalRun run_on_terminal(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env,
                            const std::string& cwd,
                            std::string interrupt_at = "") {
  struct termios raw;
  memset(&raw, 0, sizeof(raw));
  cfmakeraw(&raw);
  struct winsize size;
  memset(&size, 0, sizeof(size));
  size.ws_row = 24;
  size.ws_col = kColumns;
  int master = -1, terminal = -1;
  TerminalRun run;
  if (openpty(&master, &terminal, nullptr, &raw, &size) != 0) return run;
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(terminal, F_SETFD, FD_CLOEXEC);
  const int pid = start_program(
      argv, {.env = env, .cwd = cwd, .in = terminal, .out = terminal, .err = terminal});
  close(terminal);
  if (pid < 0) {
    close(master);
    return run;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = read(master, buffer, sizeof(buffer));
    if (n > 0) {
      run.screen.append(buffer, static_cast<size_t>(n));
      if (!interrupt_at.empty() && run.screen.find(interrupt_at) != std::string::npos) {
        kill(pid, SIGINT);
        interrupt_at.clear();
      }
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once every holder of the terminal has gone
    }
  }
  close(master);
  run.exit_code = exit_code_of(wait_program(pid));
  return run;
}

class ProgressEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_.file("in.txt"), joined(random_lines(6 << 20, 2), "\n"));
    env_ = {"LC_ALL=C", "QUARNEL_PROGRESS_DELAY=0", "TMP=" + dir_.path()};
  }
  TempDir dir_;
  std::vector<std::string> env_;
};

TEST_F(ProgressEndToEnd, TerminalShowsTheLineAndClearsItBeforeEveryMessage) {
  const std::vector<std::string> argv = {built_program("Quarnel"), "in.txt",
                                         "out.txt", "/M", "1"};
  // Redirected, standard error holds the messages and nothing else.
  ProgramResult redirected = run_program(argv, env_, dir_.path());
  ASSERT_EQ(redirected.exit_code, 0) << redirected.err;
  EXPECT_EQ(mask_times(redirected.err),
            to_cp932("□開始 <time>\n"
                     "◇入力ファイル名は in.txt です\n"
                     "◇出力ファイル名は out.txt です\n"
                     "◇行全体を昇順にソート対象にします\n"
                     "◇ソート用のメモリを 1MB使用します(A)\n"
                     "□終了 <time>\n"));
  const std::string expected = sorted_by_c_sort(dir_.file("in.txt"));
  ASSERT_TRUE(read_file(dir_.file("out.txt")) == expected);
  ASSERT_EQ(unlink(dir_.file("out.txt").c_str()), 0);

  TerminalRun terminal = run_on_terminal(argv, env_, dir_.path());
  ASSERT_EQ(terminal.exit_code, 0) << terminal.screen;
  EXPECT_TRUE(read_file(dir_.file("out.txt")) == expected);
  // Quarnel's share and the merge program's. Which run, and which of its
  // two phases, the first drawing catches depends on how soon the drawing
  // thread gets the processor.
  const std::string run_head = "\r" + to_cp932("◇ラン ");
  const std::string run_tails[] = {" " + to_cp932("読込・整列  "), " " + to_cp932("書出し  ")};
  bool run_drawn = false;
  for (size_t at = terminal.screen.find(run_head); at != std::string::npos && !run_drawn;
       at = terminal.screen.find(run_head, at + 1)) {
    size_t digits = at + run_head.size();
    size_t end = digits;
    while (end < terminal.screen.size() && std::isdigit(static_cast<unsigned char>(terminal.screen[end]))) ++end;
    for (const std::string& tail : run_tails) {
      run_drawn = run_drawn ||
                  (end > digits && terminal.screen.compare(end, tail.size(), tail) == 0);
    }
  }
  EXPECT_TRUE(run_drawn) << terminal.screen;
  EXPECT_NE(terminal.screen.find("\r" + to_cp932("◇併合 1/1 パス目  ")), std::string::npos)
      << terminal.screen;
  // Every drawing stays on one line of the terminal (Shift_JIS takes a
  // column a byte).
  static const std::regex drawn("\r([^\r\n]*)\x1b\\[K");
  int drawings = 0;
  for (std::sregex_iterator it(terminal.screen.begin(), terminal.screen.end(), drawn), end;
       it != end; ++it) {
    EXPECT_LT((*it)[1].length(), kColumns);
    ++drawings;
  }
  // Four at least, on a machine as loaded as can be: each program draws
  // its line once as soon as its drawing thread runs (the delay is 0),
  // however late that is, and clears it as it ends. Redraws 250 ms apart
  // come on top only on a slow job.
  EXPECT_GE(drawings, 4);
  // The line is gone before the end line, and without the drawings the
  // terminal saw exactly the redirected messages.
  EXPECT_NE(terminal.screen.find("\r\x1b[K" + to_cp932("□終了")), std::string::npos);
  EXPECT_EQ(mask_times(std::regex_replace(terminal.screen, drawn, "")),
            mask_times(redirected.err));
}

TEST_F(ProgressEndToEnd, NoLineWhereTheResultGoesToTheSameTerminal) {
  TerminalRun terminal = run_on_terminal(
      {built_program("Quarnel"), "in.txt", "stdout", "/M", "1"}, env_, dir_.path());
  EXPECT_EQ(terminal.exit_code, 0);
  EXPECT_EQ(terminal.screen.find('\x1b'), std::string::npos);
  EXPECT_NE(terminal.screen.find(to_cp932("□終了")), std::string::npos);
}

// Ctrl-C in the middle of the job: the line goes with the job, so that the
// shell's prompt starts on a clean line.
TEST_F(ProgressEndToEnd, InterruptClearsTheLine) {
  // Any run's line: how soon the first is drawn depends on the load.
  const std::string drawn = "\r" + to_cp932("◇ラン ");
  // The job takes a fraction of a second: on a loaded machine it may have
  // made its output before the interrupt sent at the first drawing lands.
  // Such a try is made again, a few times at most, so that a job that
  // never stops at an interrupt still fails.
  TerminalRun terminal;
  for (int attempt = 0; attempt < 5; ++attempt) {
    unlink(dir_.file("out.txt").c_str());
    terminal = run_on_terminal({built_program("Quarnel"), "in.txt", "out.txt", "/M", "1"},
                               env_, dir_.path(), drawn);
    if (!file_exists(dir_.file("out.txt"))) break;
  }
  ASSERT_EQ(terminal.exit_code, 128 + SIGINT) << terminal.screen;
  ASSERT_NE(terminal.screen.find(drawn), std::string::npos);
  const std::string clear = "\r\x1b[K";
  ASSERT_GE(terminal.screen.size(), clear.size());
  EXPECT_EQ(terminal.screen.substr(terminal.screen.size() - clear.size()), clear)
      << terminal.screen.substr(terminal.screen.size() > 200 ? terminal.screen.size() - 200 : 0);
  EXPECT_FALSE(file_exists(dir_.file("out.txt")));
}

}  // namespace
}  // namespace quarnel::testing
