#include "text/cp932.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/messages.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::ProgramResult;
using testing::TempDir;

constexpr const char* kIconv = "/usr/bin/iconv";

// Converts each piece with iconv -c, the pieces written one after another,
// each followed by a line feed: a piece iconv cannot convert comes back as
// an empty line. None of the pieces holds a line feed itself.
std::vector<std::string> iconv_pieces(const std::vector<std::string>& pieces,
                                      const std::string& from,
                                      const std::string& to,
                                      const std::string& line_feed) {
  TempDir dir;
  std::string all;
  for (const std::string& p : pieces) all += p + line_feed;
  testing::write_file(dir.file("in"), all);
  ProgramResult r =
      testing::run_program({kIconv, "-c", "-f", from, "-t", to, dir.file("in")});
  // iconv ends with 1 when it left characters out; that is expected here.
  EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.err;
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < r.out.size(); ++i) {
    if (r.out[i] == '\n') {
      out.push_back(r.out.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

bool is_lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string le16(uint16_t u) {
  return std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
}

std::string ours(uint16_t unit) {
  unsigned char b[2];
  int n = cp932_from_unicode(unit, b);
  return std::string(reinterpret_cast<const char*>(b), static_cast<size_t>(n));
}

TEST(Cp932Test, EveryUnitAgreesWithIconv) {
  if (access(kIconv, X_OK) != 0) GTEST_SKIP() << "no iconv";
  std::vector<std::string> pieces;
  std::vector<uint16_t> units;
  for (uint32_t u = 1; u <= 0xFFFF; ++u) {
    if (u == '\n' || (u >= 0xD800 && u <= 0xDFFF)) continue;
    units.push_back(static_cast<uint16_t>(u));
    pieces.push_back(le16(static_cast<uint16_t>(u)));
  }
  std::vector<std::string> expected =
      iconv_pieces(pieces, "UTF-16LE", "CP932", le16('\n'));
  ASSERT_EQ(expected.size(), units.size());
  int mismatches = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    if (ours(units[i]) != expected[i] && ++mismatches <= 10) {
      ADD_FAILURE() << "U+" << std::hex << units[i];
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(ours(0), std::string(1, '\0'));
  EXPECT_EQ(ours('\n'), "\n");
}

TEST(Cp932Test, SurrogatesAndDuplicatesOfTheNecRows) {
  unsigned char b[2] = {0xAA, 0xAA};
  EXPECT_EQ(cp932_from_unicode(0xD800, b), 0);
  EXPECT_EQ(cp932_from_unicode(0xDBFF, b), 0);
  EXPECT_EQ(cp932_from_unicode(0xDC00, b), 0);
  EXPECT_EQ(cp932_from_unicode(0xDFFF, b), 0);
  // Small roman numeral one, and the NOT SIGN's fullwidth form, exist in
  // both the NEC-selected rows and the IBM rows; Windows picks IBM FA40 for
  // the first and the JIS row 81CA for the second.
  EXPECT_EQ(ours(0x2170), "\xFA\x40");
  EXPECT_EQ(ours(0xFFE2), "\x81\xCA");
  // A kanji at NEC ED40 and IBM FA5C takes the IBM code, whose trail byte
  // is a backslash; one only in the IBM rows keeps its code.
  EXPECT_EQ(ours(0x7E8A), "\xFA\x5C");
  EXPECT_EQ(ours(0x9AD9), "\xFB\xFC");
  EXPECT_EQ(ours(0xFF71), "\xB1");      // halfwidth katakana a
  EXPECT_EQ(ours(0x00E9), "");          // e acute has no code
}

TEST(Cp932Test, ShiftJisCodesAgreeWithIconv) {
  if (access(kIconv, X_OK) != 0) GTEST_SKIP() << "no iconv";
  // Every single byte first, then every double-byte code. iconv -c drops
  // an undefined code, or only its lead byte and then reads the trail byte
  // alone, so an undefined code comes back empty or as its trail byte.
  std::vector<std::string> pieces;
  for (int single = 0x80; single <= 0xFF; ++single) {
    pieces.push_back(std::string(1, static_cast<char>(single)));
  }
  for (int single = 0x40; single <= 0x7E; ++single) {
    pieces.push_back(std::string(1, static_cast<char>(single)));
  }
  const size_t singles = pieces.size();
  auto single_index = [](int byte) {
    return byte >= 0x80 ? static_cast<size_t>(byte - 0x80)
                        : static_cast<size_t>(0x80 + byte - 0x40);
  };
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      pieces.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  std::vector<std::string> expected = iconv_pieces(pieces, "CP932", "UTF-8", "\n");
  ASSERT_EQ(expected.size(), pieces.size());
  const std::string replacement = "\xEF\xBF\xBD";
  int mismatches = 0;
  int defined = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    std::string got = sjis_to_utf8(pieces[i]);
    bool ok;
    if (i < singles) {
      unsigned char byte = static_cast<unsigned char>(pieces[i][0]);
      ok = is_lead(byte) || got == (expected[i].empty() ? replacement : expected[i]);
    } else if (got == replacement) {
      unsigned char trail = static_cast<unsigned char>(pieces[i][1]);
      ok = expected[i].empty() || expected[i] == expected[single_index(trail)];
    } else {
      ok = got == expected[i];
      ++defined;
    }
    if (!ok && ++mismatches <= 10) {
      ADD_FAILURE() << std::hex << (pieces[i][0] & 0xFF) << " "
                    << (pieces[i].size() > 1 ? pieces[i][1] & 0xFF : 0);
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(defined, 7000);
}

TEST(Cp932Test, MalformedInputBecomesReplacementCharacters) {
  // A lead byte at the end, and one before a byte that cannot follow it.
  EXPECT_EQ(sjis_to_utf8("a\x83"), "a\xEF\xBF\xBD");
  EXPECT_EQ(sjis_to_utf8("\x83\x0a" "b"), "\xEF\xBF\xBD\nb");
  EXPECT_EQ(sjis_to_utf8(std::string("\x83\x41\0z", 4)),
            std::string("\xE3\x82\xA2\0z", 5));
  // UTF-8 that is cut, overlong, a surrogate, or outside the BMP.
  EXPECT_EQ(utf8_to_sjis("x\xE3\x82"), "x??");
  EXPECT_EQ(utf8_to_sjis("\xC0\xAF"), "??");
  EXPECT_EQ(utf8_to_sjis("\xED\xA0\x80"), "???");
  EXPECT_EQ(utf8_to_sjis("\xF0\x9F\x98\x80!"), "?!");
  EXPECT_EQ(utf8_to_sjis("caf\xC3\xA9"), "caf?");
}

TEST(Cp932Test, MessageTextsRoundTrip) {
  if (access(kIconv, X_OK) != 0) GTEST_SKIP() << "no iconv";
  const char* texts[] = {
      msg::kStart,         msg::kEnd,          msg::kMergeMissing,
      msg::kMergeFailed,   msg::kErrorMark,    msg::kNotFound,
      msg::kNoMemory,      msg::kInputFile,    msg::kToStdout,
      msg::kSameFile,      msg::kBadFile,      msg::kOutputFile,
      msg::kWide,          msg::kBadMemory,    msg::kWorkDir,
      msg::kNotDirectory,  msg::kCaseKeptWide, msg::kCaseIgnored,
      msg::kWholeLine,     msg::kBadKeySpec,   msg::kNoStartColumn,
      msg::kNoLength,      msg::kBadType,      msg::kBadOrder,
      msg::kBadRange,      msg::kConditionHead, msg::kConditionWide,
      msg::kConditionNarrow, msg::kAsText,     msg::kAsNumber,
      msg::kAscending,     msg::kDescending,   msg::kConditionTail,
      msg::kNotShiftJis,   msg::kZeroSize,     msg::kBudgetA,
      msg::kBudgetB,       msg::kLineTooLong,  msg::kReadFailed,
      msg::kCannotOpenForWrite, msg::kDiskFull, msg::kNoResources,
      msg::kCannotMakeWorkFolder,
  };
  for (const char* text : texts) {
    std::string sjis = utf8_to_sjis(text);
    EXPECT_EQ(sjis, testing::to_cp932(text)) << text;
    EXPECT_EQ(sjis.find('?'), std::string::npos) << text;
    EXPECT_EQ(sjis_to_utf8(sjis), text);
  }
  EXPECT_EQ(utf8_to_sjis(msg::kStart), "\x81\xA0\x8A\x4A\x8E\x6E");
  EXPECT_EQ(utf8_to_sjis(msg::kErrorMark), "\x81\x9F");
}

}  // namespace
}  // namespace quarnel
