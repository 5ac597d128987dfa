// The built Quarnel, run as a user runs it: the usage text, the missing
// manual, and the start and end lines that frame every other run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

const std::string kStamp = "[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";

std::string from_cp932(const std::string& sjis) {
  TempDir dir;
  write_file(dir.file("in"), sjis);
  ProgramResult r =
      run_program({"/usr/bin/iconv", "-f", "CP932", "-t", "UTF-8", dir.file("in")});
  EXPECT_EQ(r.exit_code, 0);
  return r.out;
}

bool names(const std::string& line, const std::string& program) {
  std::string lower;
  for (char c : line) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  std::string want;
  for (char c : program) want += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return lower.find(want) != std::string::npos;
}

// The program's section of a manual: lines (pieces of at most 1023 bytes)
// after the first line that starts with '@' and names it, up to the next.
std::string section_of(const std::string& manual, const std::string& program) {
  std::string out;
  bool inside = false;
  size_t at = 0;
  while (at < manual.size()) {
    size_t end = manual.find('\n', at);
    end = end == std::string::npos ? manual.size() : end + 1;
    if (end - at > 1023) end = at + 1023;
    std::string line = manual.substr(at, end - at);
    at = end;
    if (line[0] == '@' && names(line, program)) {
      if (inside) break;
      inside = true;
    } else if (inside) {
      out += line;
    }
  }
  return out;
}

std::string manual() { return read_file(built_program("Jman.doc")); }

TEST(UsageEndToEnd, TooFewArgumentsPrintTheQuarnelSection) {
  const std::string expected = section_of(manual(), "Quarnel");
  ASSERT_FALSE(expected.empty());
  // A lone word that asks nothing, even one close to a question.
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{built_program("Quarnel")},
        std::vector<std::string>{built_program("Quarnel"), "input.txt"},
        std::vector<std::string>{built_program("Quarnel"), "--helpme"},
        std::vector<std::string>{built_program("Quarnel"), "/h"}}) {
    ProgramResult r = run_program(argv, {"LC_ALL=C"});
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err == expected) << r.err.substr(0, 200);
  }
}

// --help, -h, /? and -? in any letter case print the short usage on
// standard output, --version the version; both programs, exit 0, nothing
// on standard error and no start line.
TEST(UsageEndToEnd, HelpAndVersionOnStandardOutput) {
  const struct {
    std::string name;
    std::string first_line;
  } programs[] = {
      {"Quarnel", "Quarnel 入力ファイル 出力ファイル|stdout [オプション] [キー指定]\n"},
      {"Tolvinar", "Tolvinar リストファイル 出力ファイル|stdout [キー指定] [/W | /Wide] [/I] [/R]\n"}};
  for (const auto& p : programs) {
    std::string help;
    for (const char* word : {"--help", "-h", "/?", "-?", "--HELP", "-H"}) {
      ProgramResult r = run_program({built_program(p.name), word}, {"LC_ALL=C"});
      EXPECT_EQ(r.exit_code, 0) << p.name << " " << word;
      EXPECT_EQ(r.err, "") << p.name << " " << word;
      EXPECT_EQ(r.out.rfind(to_cp932(p.first_line), 0), 0u) << p.name << " " << word;
      if (help.empty()) help = r.out;
      EXPECT_EQ(r.out, help) << p.name << " " << word;
    }
    // A screen: at most 24 lines.
    EXPECT_LE(std::count(help.begin(), help.end(), '\n'), 24) << p.name;
    ProgramResult utf8 = run_program({built_program(p.name), "-h"}, {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(utf8.out.rfind(p.first_line, 0), 0u) << p.name;
    EXPECT_EQ(utf8.out, from_cp932(help)) << p.name;
    ProgramResult version = run_program({built_program(p.name), "--Version"}, {"LC_ALL=C"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.out, p.name + " " QUARNEL_VERSION "\n");
  }
}

// An answer standard output cannot take is a failure, reported: Quarnel's
// exit status 255, the merge program's 2.
TEST(UsageEndToEnd, ClosedStandardOutputFailsTheAnswer) {
  for (const auto& [name, status] : {std::pair<std::string, int>{"Quarnel", 255},
                                      std::pair<std::string, int>{"Tolvinar", 2}}) {
    for (const char* word : {"--help", "--version"}) {
      ProgramResult r = run_program(
          {"/bin/sh", "-c", "exec \"$0\" \"$1\" >&-", built_program(name), word},
          {"LC_ALL=C.UTF-8"});
      EXPECT_EQ(r.exit_code, status) << name << " " << word;
      EXPECT_NE(r.err.find("標準出力に書き込めません"), std::string::npos) << r.err;
    }
  }
}

TEST(UsageEndToEnd, UnderUtf8TheSectionIsConverted) {
  const std::string expected = from_cp932(section_of(manual(), "Quarnel"));
  ProgramResult r = run_program({built_program("Quarnel")}, {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err == expected) << r.err.substr(0, 200);
  EXPECT_NE(r.err.find("Quarnel 入力ファイル 出力ファイル|stdout [オプション] [キー指定]"),
            std::string::npos);
}

TEST(UsageEndToEnd, ManualHasBothSectionsApart) {
  const std::string doc = manual();
  const std::string quarnel = from_cp932(section_of(doc, "Quarnel"));
  const std::string tolvinar = from_cp932(section_of(doc, "Tolvinar"));
  const std::string quarnel_synopsis = "Quarnel 入力ファイル 出力ファイル|stdout";
  const std::string tolvinar_synopsis = "Tolvinar リストファイル 出力ファイル|stdout";
  EXPECT_NE(quarnel.find(quarnel_synopsis), std::string::npos);
  EXPECT_EQ(quarnel.find(tolvinar_synopsis), std::string::npos);
  EXPECT_NE(tolvinar.find(tolvinar_synopsis), std::string::npos);
  EXPECT_EQ(tolvinar.find(quarnel_synopsis), std::string::npos);
  // Every option form a user may type is explained.
  for (const char* form : {"/W", "-W", "/Wide", "-Wide", "/M", "-M", "/Mem", "-Mem",
                           "/T", "-T", "/Tmp", "-Tmp", "/I", "-i", "TMPDIR"}) {
    EXPECT_NE(quarnel.find(form), std::string::npos) << form;
  }
  // No line comes near the 1023 bytes of a manual line.
  size_t longest = 0, start = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\n') {
      longest = std::max(longest, i - start);
      start = i + 1;
    }
  }
  EXPECT_LT(longest, 200u);
}

// Quarnel alone in a folder, without its manual.
class WithoutManual : public ::testing::Test {
 protected:
  void SetUp() override {
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.path().c_str(), real), nullptr);
    folder_ = real;
    program_ = folder_ + "/Quarnel";
    write_file(program_, read_file(built_program("Quarnel")));
    chmod(program_.c_str(), 0755);
  }
  TempDir dir_;
  std::string folder_;
  std::string program_;
};

TEST_F(WithoutManual, OneErrorLineInShiftJis) {
  ProgramResult r = run_program({program_}, {"LC_ALL=C"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  std::regex line(to_cp932("◆") + kStamp + " ");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.err, m, line, std::regex_constants::match_continuous))
      << r.err;
  EXPECT_EQ(r.err.substr(m.length()),
            "\"" + folder_ + "/Jman.doc\"" + to_cp932("は存在しません") + "\n");
}

TEST_F(WithoutManual, OneErrorLineInUtf8) {
  ProgramResult r = run_program({program_, "only-one"}, {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");
  std::regex line("◆" + kStamp + " ");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.err, m, line, std::regex_constants::match_continuous))
      << r.err;
  EXPECT_EQ(r.err.substr(m.length()), "\"" + folder_ + "/Jman.doc\"は存在しません\n");
}

// The first and the last line of standard error, each with its line feed.
std::string first_line(const std::string& err) {
  size_t end = err.find('\n');
  return end == std::string::npos ? err : err.substr(0, end + 1);
}
std::string last_line(const std::string& err) {
  if (err.size() < 2) return err;
  size_t start = err.rfind('\n', err.size() - 2);
  return start == std::string::npos ? err : err.substr(start + 1);
}

TEST(FrameEndToEnd, StartAndEndLinesInShiftJis) {
  TempDir dir;
  ProgramResult r = run_program(
      {built_program("Quarnel"), dir.file("missing.txt"), dir.file("out.txt")},
      {"LC_ALL=C"});
  // A missing input fails the job whatever the later phases do.
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_FALSE(file_exists(dir.file("out.txt")));
  std::string start = first_line(r.err);
  std::string end = last_line(r.err);
  ASSERT_TRUE(std::regex_match(start, std::regex("\x81\xA0\x8A\x4A\x8E\x6E " + kStamp + "\n")))
      << start;
  ASSERT_TRUE(std::regex_match(end, std::regex(to_cp932("□終了") + " " + kStamp + "\n")))
      << end;
  // Same format, so the stamps compare as text.
  EXPECT_LE(start.substr(7), end.substr(7));
  EXPECT_NE(start.size(), r.err.size());
}

TEST(FrameEndToEnd, StartAndEndLinesInUtf8) {
  TempDir dir;
  write_file(dir.file("in.txt"), "b\r\na\r\n");
  ProgramResult r = run_program(
      {built_program("Quarnel"), dir.file("in.txt"), dir.file("out.txt")},
      {"LC_ALL=C.UTF-8"});
  EXPECT_TRUE(std::regex_match(first_line(r.err), std::regex("□開始 " + kStamp + "\n")))
      << r.err;
  EXPECT_TRUE(std::regex_match(last_line(r.err), std::regex("□終了 " + kStamp + "\n")))
      << r.err;
  EXPECT_EQ(r.exit_code == 0, file_exists(dir.file("out.txt")));
}

}  // namespace
}  // namespace quarnel::testing
