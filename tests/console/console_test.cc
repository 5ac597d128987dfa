#include "console/console.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>

#include "console/messages.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "support/test_util.h"
#include "text/cp932.h"

namespace quarnel {
namespace {

using platform::SystemEncoding;
using testing::TempDir;

// Collects what is written to standard error (file descriptor 2) between
// its construction and take().
class StderrCapture {
 public:
  StderrCapture() {
    fflush(stderr);
    saved_ = dup(2);
    FILE* f = fopen(dir_.file("err").c_str(), "wb");
    dup2(fileno(f), 2);
    fclose(f);
  }
  ~StderrCapture() { restore(); }
  std::string take() {
    restore();
    return testing::read_file(dir_.file("err"));
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  TempDir dir_;
  int saved_ = -1;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_module_path_ = module_path;
    platform::set_system_encoding_for_test(SystemEncoding::kOther);
  }
  void TearDown() override {
    module_path = saved_module_path_;
    platform::init_locale();
  }
  // Writes the manual into the test folder and points module_path at a
  // program beside it; returns what show_usage prints.
  std::string usage_of(const std::string& manual) {
    testing::write_file(dir_.file("Jman.doc"), manual);
    module_path = dir_.file("Quarnel");
    StderrCapture capture;
    show_usage();
    return capture.take();
  }
  TempDir dir_;
  std::string saved_module_path_;
};

// Splits an error line into its stamp and message and checks its frame.
std::string message_of_error_line(const std::string& line,
                                  const std::string& mark) {
  static const std::regex shape(
      "([0-9]{4})/([0-9]{2})/([0-9]{2}) ([0-9]{2}):([0-9]{2}):([0-9]{2}) ");
  EXPECT_EQ(line.compare(0, mark.size(), mark), 0) << line;
  std::smatch m;
  std::string rest = line.substr(mark.size());
  EXPECT_TRUE(std::regex_search(rest, m, shape, std::regex_constants::match_continuous))
      << line;
  if (m.empty()) return "";
  int month = std::stoi(m[2]);
  EXPECT_TRUE(month >= 1 && month <= 12);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  return rest.substr(m.length(), rest.size() - m.length() - 1);
}

TEST_F(ConsoleTest, ErrorLineShape) {
  platform::LocalTime before = platform::local_time();
  StderrCapture capture;
  report_error(msg::kNotFound, "/tmp/\x83\x5cx.txt");
  std::string err = capture.take();
  const std::string mark = "\x81\x9F";
  EXPECT_EQ(message_of_error_line(err, mark),
            "\"/tmp/\x83\x5cx.txt\"" + testing::to_cp932("は存在しません"));
  char year[8];
  snprintf(year, sizeof(year), "%04d/", before.year);
  EXPECT_EQ(err.compare(mark.size(), 5, year), 0) << err;
}

TEST_F(ConsoleTest, ErrorMessageIsNeverAFormatForItsArgument) {
  {
    // Without "%s" the argument is not used.
    StderrCapture capture;
    report_error(msg::kZeroSize, "ignored");
    EXPECT_EQ(message_of_error_line(capture.take(), "\x81\x9F"),
              testing::to_cp932(msg::kZeroSize));
  }
  {
    // Conversions inside the argument come out as they are.
    StderrCapture capture;
    report_error(msg::kBadMemory, "50%s%n%d");
    EXPECT_EQ(message_of_error_line(capture.take(), "\x81\x9F"),
              testing::to_cp932("メモリの指定\"50%s%n%d\"に誤りがあります"));
  }
  {
    StderrCapture capture;
    report_error(msg::kNoStartColumn, nullptr);
    EXPECT_EQ(message_of_error_line(capture.take(), "\x81\x9F"),
              testing::to_cp932(msg::kNoStartColumn));
  }
}

TEST_F(ConsoleTest, UnderUtf8TheTextsStayUtf8) {
  platform::set_system_encoding_for_test(SystemEncoding::kUtf8);
  StderrCapture capture;
  report_error(msg::kNotFound, "a.txt");
  report_info(msg::kInputFile, "a.txt");
  std::string err = capture.take();
  size_t first_end = err.find('\n') + 1;
  EXPECT_EQ(message_of_error_line(err.substr(0, first_end), "◆"),
            "\"a.txt\"は存在しません");
  EXPECT_EQ(err.substr(first_end), "◇入力ファイル名は a.txt です\n");
}

TEST_F(ConsoleTest, InfoLinesAreFormattedAsShiftJis) {
  StderrCapture capture;
  report_info(msg::kBudgetA, 1000);
  report_info(msg::kConditionNarrow, 1, 10);
  EXPECT_EQ(capture.take(),
            testing::to_cp932("◇ソート用のメモリを 1000MB使用します(A)\n"
                              "01 カラム目から 10 バイトを"));
}

TEST_F(ConsoleTest, UsageIsTheSectionBetweenTheProgramsMarkers) {
  std::string b = "B \x83\x41\x83\x5c\r\n";
  std::string other = "@Tolvinar \x83\x7d\x81\x5b\x83\x57\r\n";
  std::string c = "C 100% %s %d %n\r\n";
  std::string manual = "A\r\n@Quarnel usage\r\n" + b + other + c +
                       "@ the end of QUARNEL\r\nD\r\n";
  EXPECT_EQ(usage_of(manual), b + other + c);
}

TEST_F(ConsoleTest, OnlyALeadingAtSignMakesAMarker) {
  EXPECT_EQ(usage_of("x@Quarnel\n@quarnel\nB\n x@QUARNEL\nC\n@Quarnel\nD\n"),
            "B\n x@QUARNEL\nC\n");
}

TEST_F(ConsoleTest, OneMarkerPrintsToTheEndAndNoMarkerNothing) {
  EXPECT_EQ(usage_of("A\n@Quarnel\nB\nC"), "B\nC");
  EXPECT_EQ(usage_of("A\n@Tolvinar\nB\n"), "");
  // Text after a NUL byte in a line is not printed.
  EXPECT_EQ(usage_of(std::string("@Quarnel\nB\0hidden\nC\n", 20)), "BC\n");
}

TEST_F(ConsoleTest, LongLinesComeInPiecesOfAtMost1023Bytes) {
  std::string long_line(1500, 'a');
  EXPECT_EQ(usage_of("@Quarnel\n" + long_line + "\n@Quarnel\n"), long_line + "\n");
  // The piece after the first 1023 bytes starts with the at sign and names
  // the program: it is a marker of its own and ends the section.
  std::string first(1023, 'b');
  EXPECT_EQ(usage_of("@Quarnel\n" + first + "@Quarnel!\nZ\n"), first);
}

TEST_F(ConsoleTest, MissingManualIsOneErrorLine) {
  module_path = dir_.file("Quarnel");
  StderrCapture capture;
  show_usage();
  EXPECT_EQ(message_of_error_line(capture.take(), "\x81\x9F"),
            "\"" + dir_.file("Jman.doc") + "\"" + testing::to_cp932("は存在しません"));
}

TEST_F(ConsoleTest, InstalledManualIsFoundInShareAndTheOneBesideWins) {
  const std::string bin = dir_.file("bin");
  const std::string share = dir_.file("share");
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(share.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((share + "/quarnel").c_str(), 0755), 0);
  testing::write_file(share + "/quarnel/Jman.doc", "@Quarnel\ninstalled\n");
  module_path = bin + "/Quarnel";
  {
    StderrCapture capture;
    show_usage();
    EXPECT_EQ(capture.take(), "installed\n");
  }
  testing::write_file(bin + "/Jman.doc", "@Quarnel\nbeside\n");
  StderrCapture capture;
  show_usage();
  EXPECT_EQ(capture.take(), "beside\n");
}

TEST_F(ConsoleTest, UsageUnderUtf8IsConverted) {
  platform::set_system_encoding_for_test(SystemEncoding::kUtf8);
  // A line longer than one piece whose cut falls inside a katakana.
  std::string kana_sjis, kana_utf8;
  for (int i = 0; i < 600; ++i) {
    kana_sjis += "\x83\x41";
    kana_utf8 += "ア";
  }
  std::string manual = "@Quarnel\r\n" + testing::to_cp932("使い方: Quarnel 入力\r\n") +
                       "ab" + kana_sjis + "\r\n@Quarnel\r\n";
  EXPECT_EQ(usage_of(manual), "使い方: Quarnel 入力\r\nab" + kana_utf8 + "\r\n");
}

}  // namespace
}  // namespace quarnel
