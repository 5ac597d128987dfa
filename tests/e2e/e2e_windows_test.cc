// Quarnel.exe and Tolvinar.exe end to end under Wine: backslash paths,
// Tolvinar.exe started by CreateProcessA with quoted paths, Shift_JIS
// folder names on a code page 932 system. Few processes: each costs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

using Lines = std::vector<std::string>;

// Letters, digits, a blank and bytes of Shift_JIS characters.
const std::string kAlphabet = "abcAB XYZ019\x83\x41\x8A\xBF";

std::string sorted_crlf(Lines lines) {
  std::sort(lines.begin(), lines.end());
  return joined(lines, "\r\n");
}

// The bytes of a UTF-16LE text made of ASCII and a few kana.
std::string wide(const std::u16string& text) { return utf16le_lines({text}, u""); }

class WindowsEndToEnd : public ::testing::Test {
 protected:
  ProgramResult quarnel(std::vector<std::string> args,
                        const std::string& program = built_program("Quarnel")) {
    args.insert(args.begin(), program);
    return run_program(args, {"TMP=" + dir_.path()}, dir_.path());
  }
  // Nothing but what the test put there: no run, list or job folder.
  void expect_only(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    EXPECT_EQ(list_dir(dir_.path()), names);
  }
  TempDir dir_;
};

TEST_F(WindowsEndToEnd, UsageWithoutArguments) {
  ProgramResult r = quarnel({});
  EXPECT_EQ(r.exit_code, 255);
  // The manual's section and nothing before it: no start line.
  const std::string first = to_cp932("【名前】");
  EXPECT_EQ(r.err.substr(0, first.size()), first);
  EXPECT_NE(r.err.find(to_cp932("【書式】")), std::string::npos);
}

TEST_F(WindowsEndToEnd, HelpAndVersionOfBothPrograms) {
  for (const std::string name : {"Quarnel", "Tolvinar"}) {
    ProgramResult r = quarnel({"/?"}, built_program(name));
    EXPECT_EQ(r.exit_code, 0) << name;
    EXPECT_EQ(r.out.rfind(name + " ", 0), 0u) << name;
    EXPECT_NE(r.out.find(to_cp932("終了コード")), std::string::npos) << name;
    r = quarnel({"--version"}, built_program(name));
    EXPECT_EQ(r.exit_code, 0) << name;
    EXPECT_EQ(r.out, name + " " QUARNEL_VERSION "\n");
  }
}

TEST_F(WindowsEndToEnd, WholeLinesKeysAndCaseInOneRun) {
  write_file(dir_.file("in.txt"), "b\r\nC\na\r\nD\nab\n");
  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")), "C\r\nD\r\na\r\nab\r\nb\r\n");
  EXPECT_NE(r.err.find(to_cp932("□終了")), std::string::npos);

  r = quarnel({dir_.file("in.txt"), dir_.file("out.txt"), "/I"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")), "a\r\nab\r\nb\r\nC\r\nD\r\n");

  write_file(dir_.file("keys.txt"), "1 z\n3 x\n2 y\n");
  r = quarnel({dir_.file("keys.txt"), "stdout", "(3,1)[A;S]"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "3 x\r\n2 y\r\n1 z\r\n");
  // A device is written in place, never replaced by the run.
  r = quarnel({dir_.file("keys.txt"), "nul"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  expect_only({"in.txt", "keys.txt", "out.txt"});
}

TEST_F(WindowsEndToEnd, WideWithAndWithoutByteOrderMark) {
  const std::string marked = "\xFF\xFE" + wide(u"b\r\n\u30A2\na\r\n");
  write_file(dir_.file("w.txt"), marked);
  ProgramResult r = quarnel({dir_.file("w.txt"), dir_.file("out.txt")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")),
            "\xFF\xFE" + wide(u"a\r\nb\r\n\u30A2\r\n"));

  // /W without a mark; to standard output as Shift_JIS.
  write_file(dir_.file("w.txt"), wide(u"b\n\u30A2\na\n"));
  r = quarnel({dir_.file("w.txt"), "stdout", "/W"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "a\r\nb\r\n\x83\x41\r\n");

  // Keys in wide mode count 16-bit units.
  write_file(dir_.file("w.txt"), wide(u"1\u30A2z\n2\u30A2x\n"));
  r = quarnel({dir_.file("w.txt"), dir_.file("out.txt"), "/W", "key(3,1)attr(A,S)"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")), wide(u"2\u30A2x\r\n1\u30A2z\r\n"));
}

// /M 1 cuts the input into runs that Tolvinar.exe merges, to a file and to
// standard output; the paths hold blanks, so they reach it quoted.
TEST_F(WindowsEndToEnd, ManyRunsMergedByTolvinarThroughPathsWithBlanks) {
  CreateDirectoryA(dir_.file("my data").c_str(), nullptr);
  const Lines lines = random_lines(2500000, 7, kAlphabet);
  const std::string in = dir_.file("my data\\in put.txt");
  write_file(in, joined(lines, "\n"));
  ProgramResult r = quarnel({in, dir_.file("my data\\out put.txt"), "/M", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir_.file("my data\\out put.txt")), sorted_crlf(lines));

  r = quarnel({in, "stdout", "/M", "1", "(1,3)[D;S]"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  Lines by_key = lines;
  std::stable_sort(by_key.begin(), by_key.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 3) > b.substr(0, 3);
  });
  // Lines of equal keys keep the order the runs gave them: the keys come in
  // order, and the lines are the input's.
  Lines got = split_lines(r.out, "\r\n");
  ASSERT_EQ(got.size(), by_key.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].substr(0, 3), by_key[i].substr(0, 3)) << i;
  }
  std::sort(got.begin(), got.end());
  Lines all = lines;
  std::sort(all.begin(), all.end());
  EXPECT_EQ(got, all);
  // The NUL device takes the merged result in place; no file stands in
  // for it anywhere.
  r = quarnel({in, "NUL", "/M", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  expect_only({"my data"});
  EXPECT_EQ(list_dir(dir_.file("my data")), (Lines{"in put.txt", "out put.txt"}));
}

TEST_F(WindowsEndToEnd, WideRunsMergedToStandardOutputAsShiftJis) {
  std::vector<std::u16string> units;
  std::mt19937 rng(11);
  const std::u16string alphabet = u"abcXYZ\u30A2\u6F22";
  for (int i = 0; i < 70000; ++i) {
    std::u16string line;
    for (int k = 0; k < 8; ++k) line += alphabet[rng() % alphabet.size()];
    units.push_back(line);
  }
  write_file(dir_.file("w.txt"), "\xFF\xFE" + utf16le_lines(units, u"\r\n"));
  ProgramResult r = quarnel({dir_.file("w.txt"), "stdout", "/M", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::sort(units.begin(), units.end());
  std::string expected;
  for (const std::u16string& u : units) {
    std::string utf8;
    for (char16_t c : u) {
      if (c == u'\u30A2') utf8 += "\x83\x41";
      else if (c == u'\u6F22') utf8 += "\x8A\xBF";
      else utf8 += static_cast<char>(c);
    }
    expected += utf8 + "\r\n";
  }
  EXPECT_EQ(r.out, expected);
  expect_only({"w.txt"});
}

// Without Tolvinar.exe beside Quarnel.exe the job fails by name, and an
// existing output stays as it was.
TEST_F(WindowsEndToEnd, MissingMergeProgramLeavesTheOutputUnchanged) {
  const std::string alone = dir_.file("alone");
  CreateDirectoryA(alone.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(built_program("Quarnel").c_str(),
                        (alone + "\\Quarnel.exe").c_str(), FALSE));
  write_file(dir_.file("in.txt"), joined(random_lines(2500000, 3, kAlphabet), "\n"));
  write_file(dir_.file("out.txt"), "keep me\r\n");
  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt"), "/M", "1"},
                            alone + "\\Quarnel.exe");
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(to_cp932("マージプログラム\"Tolvinar.exe\"が存在しません")),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")), "keep me\r\n");
  expect_only({"alone", "in.txt", "out.txt"});
}

// A path longer than the system's 260-byte field is refused by name,
// never cut to a shorter one that may name another file.
TEST_F(WindowsEndToEnd, OverlongPathIsABadFile) {
  write_file(dir_.file("in.txt"), "b\na\n");
  std::string longest = dir_.file(std::string(300 - dir_.path().size(), 'o') + ".txt");
  ProgramResult r = quarnel({dir_.file("in.txt"), longest});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(to_cp932("不当なファイル\"") + longest + "\""), std::string::npos)
      << r.err;
  expect_only({"in.txt"});
}

class WindowsEndToEndCodePage932 : public WindowsEndToEnd {};

// 表 (95 5C) ends in the byte of the backslash: on a code page 932 system
// the folder stays one folder, for the runs and for Tolvinar.exe.
TEST_F(WindowsEndToEndCodePage932, ShiftJisFolderName) {
  ASSERT_EQ(GetACP(), 932u);
  const std::string folder = dir_.file("\x95\x5C");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const Lines lines = random_lines(2500000, 5, kAlphabet);
  write_file(folder + "\\in.txt", joined(lines, "\n"));
  ProgramResult r =
      quarnel({folder + "\\in.txt", folder + "\\out.txt", "/M", "1", "/T", folder});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(folder + "\\out.txt"), sorted_crlf(lines));
  EXPECT_EQ(list_dir(folder), (Lines{"in.txt", "out.txt"}));
  expect_only({"\x95\x5C"});
}

}  // namespace
}  // namespace quarnel::testing
