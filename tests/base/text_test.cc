#include "base/text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

#include "base/stage_error.h"

namespace ostrel {
namespace {

std::vector<std::string> Lines(std::string_view text) {
  LineReader reader(text);
  std::vector<std::string> out;
  std::string_view line;
  while (reader.Next(line)) out.emplace_back(line);
  return out;
}

TEST(LineReaderTest, LineEnds) {
  struct Row {
    std::string text;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"A\r\nB", {"A", "B"}},   {"A\rB\n", {"AB"}}, {"A\nB\n", {"A", "B"}},
      {"\n\nx", {"", "", "x"}}, {"", {}},           {"one\rline\rof\rCRs", {"onelineofCRs"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Lines(row.text), row.lines);
  }
}

std::vector<std::string> Split(std::string_view line, char sep) {
  std::vector<std::string_view> fields;
  SplitFields(line, sep, fields);
  return {fields.begin(), fields.end()};
}

TEST(SplitFieldsTest, BlankAndOtherSeparators) {
  struct Row {
    std::string line;
    char sep;
    std::vector<std::string> fields;
  };
  const Row rows[] = {
      {"  CBP\tP1   ", ' ', {"CBP", "P1"}},
      {"\t a \t\t b ", ' ', {"a", "b"}},
      {"   ", ' ', {""}},
      {"", ' ', {""}},
      {"a,,b", ',', {"a", "", "b"}},
      {" a , b ,c", ',', {"a", "b", "c"}},
      {"a,", ',', {"a", ""}},
      {"a\t b", '\t', {"a", "b"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("[" + row.line + "]");
    EXPECT_EQ(Split(row.line, row.sep), row.fields);
  }
}

TEST(ParseNumberTest, Table) {
  struct Row {
    std::string text;
    float value;
  };
  const Row rows[] = {
      {"", 0.0f},          {"1,5", 1.5f},   {"-2,5", -2.5f},     {"1E3", 1000.0f},
      {"12abc", 12.0f},    {"abc", 0.0f},   {"1,234,5", 1.234f}, {" - 4", -4.0f},
      {"1 2", 12.0f},      {"1e", 1.0f},    {".", 0.0f},         {".5", 0.5f},
      {"5.", 5.0f},        {"2d2", 200.0f}, {"2D-1", 0.2f},      {"+7", 7.0f},
      {"--4", 0.0f},       {"1e39", 0.0f},  {"-1e39", 0.0f},     {"3.4028234e38", 3.4028234e38f},
      {"1e-50", 0.0f},     {"\t3\t", 3.0f}, {"0.1", 0.1f},       {"1.2.3", 1.2f},
      {"433.92", 433.92f}, {"e5", 0.0f},    {"1e+2", 100.0f},    {"7 e 1", 70.0f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("[" + row.text + "]");
    EXPECT_EQ(ParseNumber(row.text), row.value);
  }
  // Decimal text goes to the nearest double first, then to the nearest single.
  EXPECT_EQ(ParseNumber("0.100000001490116119384765625"), 0.1f);
}

// Plain decimals agree bit for bit with the general conversion (ParseStrictNumber's) where a
// shortcut could round the other way: halfway between two singles and just off it, ties to
// even both ways, the most digits, the smallest and largest scales, and random texts that lie
// within a few doubles of halfway between two singles.
TEST(ParseNumberTest, PlainDecimalsRoundAsTheGeneralConversion) {
  std::vector<std::string> texts = {
      "16777217",
      "16777217.0",
      "8388608.5",
      "8388609.5",
      "-8388609.5",
      "4194304.25",
      "4194304.75",
      "8388608.5000001",
      "8388608.4999999",
      "0.1",
      "0.3",
      "-625976.25",
      "123456789012345",
      "0.123456789012345",
      "0.000000000000001",
      "999999999999999",
      "9007199.25474099",
      "1.00000005960464",
      "1.00000017881393",
      "33554435.0000000",
      "0",
      "-0.0",
      "0.5",
      "3.40282346638528",
  };
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    // Halfway between a random single and the next, to 15 significant digits, so the text
    // lies within a few doubles of halfway.
    const float f = std::ldexp(1.0f + static_cast<float>(random() % (1u << 23)) * 0x1p-23f,
                               static_cast<int>(random() % 60) - 30);
    const double halfway = (static_cast<double>(f) + std::nextafter(f, 2 * f)) / 2;
    char text[40];
    std::snprintf(text, sizeof text, "%.*f",
                  std::max(0, 14 - static_cast<int>(std::floor(std::log10(halfway)))), halfway);
    texts.emplace_back(text);
  }
  int checked = 0;
  for (const std::string& text : texts) {
    float general = 0;
    if (!ParseStrictNumber(text, general)) continue;
    SCOPED_TRACE("[" + text + "]");
    EXPECT_EQ(std::bit_cast<std::uint32_t>(ParseNumber(text)),
              std::bit_cast<std::uint32_t>(general));
    ++checked;
  }
  EXPECT_GT(checked, 20000);
}

// The shortcuts for the package's common fields (short whole numbers; a point among the last
// 8 bytes, read as one word) agree bit for bit with the general conversion on texts at their
// edges and on random texts of digits, points, signs, exponents and junk.
TEST(ParseNumberTest, ShortcutsAgreeWithTheGeneralConversion) {
  std::vector<std::string> texts = {
      "0",
      "7",
      "09",
      "999",
      "-0",
      "+5",
      "5.",
      "12345678.",
      "1234567.8",
      ".1234567",
      "0.1234567",
      "-.1234567",
      "+.1234567",
      "-625976.25",
      "+625976.25",
      "625976.25",
      "-13227.75",
      "13227.75",
      "00000.001",
      "99999999.9",
      "123456789.1",
      "1.2.34567",
      "12345.6.7",
      "1234567.1234567",
      "-12.3e456",
      "1234.56e1",
      "12,345678",
      "1 345.678",
      "1234.5 78",
      "123456.7-",
      "8388608.5",
      "16777217.0",
      "-8388609.5",
      "4194304.75",
      "\xff"
      "234.56",
      "12345678.12345678",
      "12345678.1234567",
      "1.2345.67",
      "1234567.12",
      "a",
      "1a",
      "12a",
      "-",
      "+",
      ".",
      "1.",
      "99.9",
      "1e5",
  };
  std::mt19937_64 random(11);
  const std::string alphabet = "0123456789012345678901234567890123456789.-+,eE ";
  for (int i = 0; i < 200000; ++i) {
    std::string text(random() % 19, '0');
    for (char& c : text) c = alphabet[random() % (i % 2 == 0 ? 41 : alphabet.size())];
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE("[" + text + "]");
    ASSERT_EQ(std::bit_cast<std::uint32_t>(ParseNumber(text)),
              std::bit_cast<std::uint32_t>(ParseNumberByConversion(text)));
  }
}

TEST(ParseStrictNumberTest, AcceptsOnlyWholeNumbers) {
  struct Row {
    std::string text;
    bool ok;
    float value;
  };
  const Row rows[] = {
      {"5.", true, 5.0f}, {".5", true, 0.5f}, {"-1.25e2", true, -125.0f}, {"+3", true, 3.0f},
      {"", false, 0},     {"1,5", false, 0},  {"1D2", false, 0},          {" 1", false, 0},
      {"1 ", false, 0},   {"inf", false, 0},  {"nan", false, 0},          {"1e", false, 0},
      {".", false, 0},    {"1e39", false, 0}, {"abc", false, 0},          {"12abc", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("[" + row.text + "]");
    float value = -99.0f;
    EXPECT_EQ(ParseStrictNumber(row.text, value), row.ok);
    if (row.ok) EXPECT_EQ(value, row.value);
  }
}

TEST(FormatTest, FixedThreeDecimalsRoundsHalvesAwayFromZero) {
  struct Row {
    double value;
    std::string text;
  };
  const Row rows[] = {
      {0.0, "0.000"},
      {-0.0, "0.000"},
      {-0.0004, "0.000"},
      {0.0625, "0.063"},
      {-0.0625, "-0.063"},
      {0.1875, "0.188"},
      {2.5625, "2.563"},
      {0.0005, "0.001"},
      {1234.5678, "1234.568"},
      {100000000.0, "100000000.000"},
      {-1.0, "-1.000"},
      {1.0, "1.000"},
      {static_cast<double>(0.1f), "0.100"},
      {100000000100.0, "100000000100.000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FormatFixed3(row.value), row.text);
  }
}

// The report's field of a single, made by a shortcut (the single times 1000, plus a half, is
// exact), is the field of the exact rule: ties, values that round to zero, the last that fit
// seven whole digits and the first that do not, the largest, the smallest, NaN and infinities,
// and random bit patterns of every exponent.
TEST(FormatTest, SingleFieldAsTheExactField) {
  std::vector<float> values = {0.0625f,     -0.0625f,   0.1875f,   2.5625f,       0.0005f,
                               -0.0004999f, 0.0f,       -0.0f,     9999999.0f,    -9999999.0f,
                               9999999.5f,  10000000.f, -1e7f,     0x1p-149f,     -0x1p-126f,
                               3.4e38f,     -3.4e38f,   1e10f,     std::nanf(""), INFINITY,
                               -INFINITY,   1013.5125f, 130.67049f};
  std::mt19937 random(5);
  for (int i = 0; i < 300000; ++i)
    values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
  // And the report's own range, each count of whole digits alike.
  std::uniform_real_distribution<float> unit(-1, 1);
  for (int i = 0; i < 300000; ++i) values.push_back(unit(random) * std::pow(10.0f, i % 8));
  for (const float value : values) {
    SCOPED_TRACE(value);
    char shortcut[12], exact[12];
    ASSERT_EQ(WriteFixed3Field12(shortcut, value), shortcut + 12);
    WriteFixed3Field(exact, value, 12);
    ASSERT_EQ(std::string(shortcut, 12), std::string(exact, 12));
  }
}

TEST(FormatTest, GeneralForm) {
  struct Row {
    double value;
    int digits;
    std::string text;
  };
  const Row rows[] = {
      {2450000128.0 / 1e9, 15, "2.450000128"},
      {static_cast<float>(433920.0 / 1000.0), 7, "433.92"},
      {999.5f, 7, "999.5"},
      {1.0, 7, "1"},
      {1000000.0 / 1e6, 15, "1"},
      {-5.0, 7, "-5"},
      {0.0, 7, "0"},
      {1.25e-5, 7, "0.0000125"},
      {123456789.0, 7, "123456800"},
      {9.9999996, 7, "10"},
      {2.5e6, 7, "2500000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FormatGeneral(row.value, row.digits), row.text);
  }
}

TEST(PathTest, FileNameAndFolder) {
  EXPECT_EQ(FileNameOf("/work/x.zv"), "x.zv");
  EXPECT_EQ(FileNameOf("x.zv"), "x.zv");
  EXPECT_EQ(FileNameOf("/dir/"), "");
  EXPECT_EQ(FolderOf("/dir/sub/f.txt"), "/dir/sub/");
  EXPECT_EQ(FolderOf("/dir/"), "/dir/");
  EXPECT_THROW(FolderOf("x.zv"), StageError);
  EXPECT_THROW(FolderOf(""), StageError);
}

TEST(PathTest, FileExistsForRegularFilesOnly) {
  const auto dir = std::filesystem::temp_directory_path() / "ostrel_file_exists";
  std::filesystem::create_directories(dir / "sub");
  std::ofstream(dir / "plain.zv") << "x";
  std::ofstream(dir / ".dot.zv") << "x";
  std::filesystem::remove(dir / "link.zv");
  std::filesystem::create_symlink(dir / "plain.zv", dir / "link.zv");
  const std::pair<std::string, FileKind> rows[] = {
      {(dir / "plain.zv").string(), FileKind::kRegular},
      {(dir / "link.zv").string(), FileKind::kRegular},
      {(dir / ".dot.zv").string(), FileKind::kRegular},
      {(dir / "sub").string(), FileKind::kOther},
      {"/dev/null", FileKind::kOther},
      {(dir / "*.zv").string(), FileKind::kMissing},
      {(dir / "missing.zv").string(), FileKind::kMissing},
      {"", FileKind::kMissing}};
  for (const auto& [path, kind] : rows) {
    SCOPED_TRACE(path);
    EXPECT_EQ(KindOf(path), kind);
    EXPECT_EQ(FileExists(path), kind == FileKind::kRegular);
  }
  std::filesystem::remove_all(dir);
}

// Only a leading byte order mark and CR-only line ends change; every other text reads as
// it always did (a CR inside a file that has line feeds is still dropped by LineReader).
TEST(LineTextTest, ByteOrderMarkAndLoneCarriageReturns) {
  const std::pair<std::string, std::string> rows[] = {{"\xEF\xBB\xBF"
                                                       "A 1\r\nB 2\r\n",
                                                       "A 1\r\nB 2\r\n"},
                                                      {"\xEF\xBB\xBF", ""},
                                                      {"A 1\rB 2\r", "A 1\nB 2\n"},
                                                      {"\xEF\xBB\xBF"
                                                       "A\rB",
                                                       "A\nB"},
                                                      {"A\rB\n", "A\rB\n"},
                                                      {"A\r\nB\rC", "A\r\nB\rC"},
                                                      {"A \xEF\xBB\xBF", "A \xEF\xBB\xBF"},
                                                      {"\xEF\xBB"
                                                       "A",
                                                       "\xEF\xBB"
                                                       "A"}};
  for (const auto& [text, expected] : rows) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string scratch;
    EXPECT_EQ(AsLineText(text, scratch), expected);
  }
}

}  // namespace
}  // namespace ostrel
