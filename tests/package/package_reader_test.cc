#include "package/package_reader.h"

#include <gtest/gtest.h>

#include "base/stage_error.h"
#include "package/side_ordering.h"
#include "support/scratch_dir.h"

namespace ostrel {
namespace {

Package Read(const std::string& text) {
  Package pkg;
  ParsePackage(std::string_view(text), pkg, "pkg.tmv");
  return pkg;
}

constexpr const char* kHeader = "COMPW 2000\nCOMPL 2000\nCOMPZ 200\n";

TEST(PackageReaderTest, HeaderValues) {
  struct Row {
    std::string text;
    float Package::*field;
    float value;
  };
  const Row rows[] = {
      {"COMPZ 0\n", &Package::CompZ, 1.0f},
      {"COMPZ\n", &Package::CompZ, 1.0f},
      {"COMPL 1,5\nCOMPZ 3\n", &Package::CompL, 1.5f},
      {"COMPL 12abc\nCOMPZ 3\n", &Package::CompL, 12.0f},
      {"COMPL abc\nCOMPZ 3\n", &Package::CompL, 0.0f},
      {"SD_YOFFSET 25\n", &Package::SdYOffset, -25.0f},
      {"compw 7\ncompw 8\n", &Package::CompW, 8.0f},
      {"COMPZ 200\nCOMPW 9\n", &Package::CompW, 0.0f},  // header keyword after the header
      {"SD_COMPZ 150\nSD_ROTATION 90\nSD_XOFFSET 5\n", &Package::SdCompZ, 150.0f},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Read(row.text).*row.field, row.value);
  }
  EXPECT_EQ(Read("TECHNOLOGY cmos18\nCOMPZ 1\n").Technology, "CMOS18");
  EXPECT_EQ(Read("COMPZ 1\nTECHNOLOGY cmos18\n").Technology, "");
}

TEST(PackageReaderTest, PadSizesAndSides) {
  struct Row {
    std::string side;
    float width, length;
    SideList Package::*side_list;
  };
  const Row rows[] = {
      {"T", 60, 80, &Package::TopPads},  {"B", 60, 80, &Package::BottomPads},
      {"L", 80, 60, &Package::LeftPads}, {"R", 80, 60, &Package::RightPads},
      {"t", 80, 60, &Package::TopPads},  {"x", 80, 60, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.side);
    const Package pkg =
        Read(std::string(kHeader) + "CBP P1 100 200 0 60 80 0 " + row.side + " note\n");
    ASSERT_EQ(pkg.ChipPads.size(), 1u);
    const BondPad& pad = pkg.ChipPads[0];
    EXPECT_EQ(pad.Width, row.width);
    EXPECT_EQ(pad.Length, row.length);
    EXPECT_EQ(pad.Side, row.side);
    EXPECT_EQ(pad.Extra, "note");
    EXPECT_EQ(pad.Z, 200.0f);
    const std::size_t sides =
        pkg.TopPads.size() + pkg.BottomPads.size() + pkg.LeftPads.size() + pkg.RightPads.size();
    EXPECT_EQ(sides, row.side_list ? 1u : 0u);
    if (row.side_list) EXPECT_EQ((pkg.*row.side_list)[0], 0u);
  }
  const Package stacked = Read(std::string(kHeader) + "SD_CBP S1 100 200 0 60 80 0 L\n");
  ASSERT_EQ(stacked.StackPads.size(), 1u);
  EXPECT_EQ(stacked.StackPads[0].Width, 60.0f);
  EXPECT_EQ(stacked.StackPads[0].Length, 80.0f);
  EXPECT_TRUE(stacked.LeftPads.empty());
}

TEST(PackageReaderTest, FingersAndWireBondsFindTheirPadByName) {
  const Package pkg = Read(std::string(kHeader) +
                           "WB P1 1 1 0 2 2 200 0\n"  // before its pad: ignored
                           "CBP P1 100 200 0 60 80 0 T\n"
                           "CBP P1 300 200 0 60 80 0 T\n"  // same name: the first wins
                           "SD_CBP P1 5 5 0 1 1 0 T\n"     // same name on the stacked die
                           "SD_CBP S1 5 5 0 1 1 0 T\n"
                           "SBP P1 10 20 0 30 40 50 GOLD\n"
                           "WB P1 100 200 0 110 900 200 0\n"
                           "WB S1 5 5 0 6 6 350 0\n"
                           "WB p1 9 9 0 9 9 9 9\n");  // names are case-sensitive
  ASSERT_EQ(pkg.ChipPads.size(), 2u);
  const BondPad& p1 = pkg.ChipPads[0];
  EXPECT_EQ(p1.FingerX, 10.0f);
  EXPECT_EQ(p1.FingerY, 20.0f);
  EXPECT_EQ(p1.FingerLength, 30.0f);
  EXPECT_EQ(p1.FingerWidth, 40.0f);
  EXPECT_EQ(p1.FingerValue, 50.0f);
  EXPECT_EQ(p1.FingerExtra, "GOLD");
  EXPECT_EQ(p1.BondX1, 100.0f);
  EXPECT_EQ(p1.BondY2, 900.0f);
  EXPECT_EQ(p1.BondZ1, 200.0f);
  EXPECT_EQ(p1.BondLine, 10);
  EXPECT_EQ(pkg.ChipPads[1].BondX1, 0.0f);
  EXPECT_EQ(pkg.StackPads[0].BondX1, 0.0f);
  EXPECT_EQ(pkg.StackPads[1].BondZ1, 350.0f);
}

TEST(PackageReaderTest, RecordsAndIgnoredLines) {
  const Package pkg = Read(std::string(kHeader) +
                           "cbp\n"                   // pad with no fields
                           "CBP: X 1 1 0 1 1 0 T\n"  // not a keyword
                           "   \n"
                           "STCH A1 1 2 B7 3 4 350 200\n"
                           "RING 1 VSS -10 -20 10 20 60 7\n"
                           "SRSEG NOPE VDD 0 90\n"  // ring not defined yet
                           "SRING GR1 VDD -1 -2 1 2 5 6\n"
                           "SRSEG GR1 VDD 0 90\n"
                           "DAP D1 1 2 3 4 5\n"
                           "CBP Q 1 2 0 3 4 0 T e x t r a 11 12 13\n");
  ASSERT_EQ(pkg.ChipPads.size(), 2u);
  EXPECT_EQ(pkg.ChipPads[0].Name, "");
  EXPECT_EQ(pkg.ChipPads[0].X, 0.0f);
  EXPECT_EQ(pkg.ChipPads[1].Extra, "e");
  ASSERT_EQ(pkg.Stitches.size(), 1u);
  EXPECT_EQ(pkg.Stitches[0].Pad2, "B7");
  EXPECT_EQ(pkg.Stitches[0].Z2, 200.0f);
  ASSERT_EQ(pkg.Rings.size(), 1u);
  EXPECT_EQ(pkg.Rings[0].Net, "VSS");
  EXPECT_EQ(pkg.Rings[0].Y2, 20.0f);
  EXPECT_EQ(pkg.Rings[0].Value8, 7.0f);
  ASSERT_EQ(pkg.SegRings.size(), 1u);
  ASSERT_EQ(pkg.SegRings[0].Segments.size(), 1u);
  EXPECT_EQ(pkg.SegRings[0].Segments[0].B, 90.0f);
  ASSERT_EQ(pkg.AttachPads.size(), 1u);
  EXPECT_EQ(pkg.AttachPads[0].V5, 5.0f);
}

// A record's keyword is matched whole, its letters in any case; one byte more, one byte less or
// another byte in place of a letter makes no record.
TEST(PackageReaderTest, RecordKeywordsMatchWholeInAnyCase) {
  struct Row {
    std::string keyword;
    std::size_t chip, stack, stitches, rings;
  };
  const Row rows[] = {
      {"cBp", 1, 0, 0, 0},
      {"Sd_cbP", 0, 1, 0, 0},
      {"stch", 0, 0, 1, 0},
      {"RinG", 0, 0, 0, 1},
      {"CBPX", 0, 0, 0, 0},
      {"CB", 0, 0, 0, 0},
      {"C", 0, 0, 0, 0},
      {"SD_CBPS", 0, 0, 0, 0},
      {"SD_CBPST", 0, 0, 0, 0},
      {std::string("CBP\0", 4), 0, 0, 0, 0},
      {"C\xC2P", 0, 0, 0, 0},                       // 0xC2 is no letter, though 0x42 is 'B'
      {std::string("SD\x7F") + "CBP", 0, 0, 0, 0},  // DEL, not a letter: not '_'
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keyword);
    const Package pkg = Read(std::string(kHeader) + row.keyword + " P1 1 2 0 3 4 5 6\n");
    EXPECT_EQ(pkg.ChipPads.size(), row.chip);
    EXPECT_EQ(pkg.StackPads.size(), row.stack);
    EXPECT_EQ(pkg.Stitches.size(), row.stitches);
    EXPECT_EQ(pkg.Rings.size(), row.rings);
  }
}
TEST(PackageReaderTest, WithoutCompzEverythingIsHeader) {
  const Package pkg = Read("COMPW 5\nCBP P1 1 1 0 1 1 0 T\n");
  EXPECT_TRUE(pkg.ChipPads.empty());
  EXPECT_EQ(pkg.CompW, 5.0f);
  EXPECT_EQ(pkg.CompZ, 0.0f);
}

// Lines are split in one look at their 64 bytes when they are shorter and end in LF or CR LF,
// otherwise by the general rules: both give the same fields. Each line is read at the end of
// the text (fewer than 64 bytes left) and followed by another line.
TEST(PackageReaderTest, LineEndsAndLengths) {
  struct Row {
    std::string line;
    float x;
    std::string extra;
  };
  const std::string pad = "CBP P1 1 2 0 3 4 0 T ";
  const Row rows[] = {
      {pad + "x\n", 1, "x"},
      {pad + "x\r\n", 1, "x"},
      {"CBP P1 1\r5 2 0 3 4 0 T x\r\n", 15, "x"},  // a carriage return inside is dropped
      {"CBP P1 1 2 0 3 4 0 T x\r\r\n", 1, "x"},
      {"\t CBP\tP1  1 2 0 3 4 0 T\tx \n", 1, "x"},
      {pad + "x y z\n", 1, "x"},
      {pad + std::string(62 - pad.size(), 'e') + "\r\n", 1, std::string(62 - pad.size(), 'e')},
      {pad + std::string(63 - pad.size(), 'e') + "\n", 1, std::string(63 - pad.size(), 'e')},
      {pad + std::string(63 - pad.size(), 'e') + "\r\n", 1, std::string(63 - pad.size(), 'e')},
      {pad + std::string(64 - pad.size(), 'e') + "\n", 1, std::string(64 - pad.size(), 'e')},
      {pad + std::string(130 - pad.size(), 'e') + "\n", 1, std::string(130 - pad.size(), 'e')},
      {"CBP P1 1 2 0 3 4 0 T" + std::string(50, ' ') + "x\n", 1, "x"},
      {pad + "x", 1, "x"},
  };
  for (const Row& row : rows) {
    for (const std::string& after : {std::string(), "NOTE " + std::string(100, 'n') + "\n"}) {
      if (row.line.back() != '\n' && !after.empty()) continue;
      SCOPED_TRACE("[" + row.line + "] followed by " + std::to_string(after.size()) + " bytes");
      const Package pkg = Read(std::string(kHeader) + "\n\r\n" + row.line + after);
      ASSERT_EQ(pkg.ChipPads.size(), 1u);
      EXPECT_EQ(pkg.ChipPads[0].Name, "P1");
      EXPECT_EQ(pkg.ChipPads[0].X, row.x);
      EXPECT_EQ(pkg.ChipPads[0].Extra, row.extra);
      EXPECT_EQ(pkg.ChipPads[0].PadLine, 6);
    }
  }
}

TEST(PackageReaderTest, StrictNumbersStopTheReadAtTheirLine) {
  const char* bad[] = {"DAP D1 1 2 3 4\n", "DAP D1 1 2 3 4 5,5\n",
                       "SRING R N 0 0 0 0\nSRSEG R N x 1\n"};
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    Package pkg;
    try {
      ParsePackage(
          std::string(kHeader) + "CBP P1 1 1 0 1 1 0 T\n" + line + "CBP P2 1 1 0 1 1 0 T\n", pkg,
          "pkg.tmv");
      FAIL() << "no error";
    } catch (const StageError& e) {
      EXPECT_EQ(e.file(), "pkg.tmv");
      EXPECT_GE(e.line(), 5);
      EXPECT_NE(std::string(e.what()).find("pkg.tmv:"), std::string::npos);
    }
    EXPECT_EQ(pkg.ChipPads.size(), 1u);
  }
}

TEST(SideOrderingTest, EntriesAndOrder) {
  Package pkg = Read(std::string(kHeader) +
                     "CBP A 300 0 0 1 1 0 T\nCBP B 100 0 0 1 1 0 T\nCBP C 200 0 0 1 1 0 T\n"
                     "CBP D -150 0 0 1 1 0 T\n"
                     "CBP L1 0 50.0002 0 1 1 0 L\nCBP L2 0 50.0001 0 1 1 0 L\n"
                     "CBP L3 0 -7 0 1 1 0 l\n");
  const std::vector<std::string> top = SortEntryTexts(OrderSides(pkg));
  std::vector<std::string> names;
  for (const std::size_t i : pkg.TopPads) names.push_back(pkg.ChipPads[i].Name);
  EXPECT_EQ(names, (std::vector<std::string>{"D", "B", "C", "A"}));
  ASSERT_EQ(top.size(), 4u);
  EXPECT_EQ(top[1], std::string(12, ' ') + "100000000100.000" + "0001");
  names.clear();
  for (const std::size_t i : pkg.LeftPads) names.push_back(pkg.ChipPads[i].Name);
  // Equal at three decimals: file order stays; a lower-case side is still ordered by Y.
  EXPECT_EQ(names, (std::vector<std::string>{"L3", "L1", "L2"}));
  Package empty;
  EXPECT_TRUE(OrderSides(empty).empty());
}

// The order is that of the entry texts compared byte by byte, also where it is not the order
// of the numbers: keys below -1e11 write a minus sign, which sorts after the blanks of a
// shorter text and before any digit. Sides listed in order one way or the other, and with
// equal keys among them (file order stays), come out as any other.
TEST(SideOrderingTest, OrderIsThatOfTheEntryTexts) {
  const std::vector<std::vector<float>> rows = {
      {5, -3, 5, 1e6f, -1e6f, 0.0004f, 0.0006f, 2.5e-4f},
      {-1.5e11f, -4e10f, 0, -99999997952.0f, 7, -3e11f, -1.5e11f},
      {9, 7, 4.0004f, 4.0001f, -1},
      {9, 7, 7, 2},
      {9, 7, 7.0002f, 7.0001f, 2},
      {1, 2, 2, 3},
      {1, 2, 3, 4},
  };
  for (const std::vector<float>& keys : rows) {
    Package pkg;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      pkg.TopPads.push_back(i);
      pkg.ChipPads.emplace_back().X = keys[i];
      texts.push_back(SideEntry(keys[i], i));
    }
    std::vector<std::string> sorted = texts;
    std::stable_sort(sorted.begin(), sorted.end());
    EXPECT_EQ(SortEntryTexts(OrderSides(pkg)), sorted);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      EXPECT_EQ(texts[pkg.TopPads[k]], sorted[k]) << k;
    }
  }
}

class PackageFileTest : public testing_support::ScratchDirTest {};

// A file is read a megabyte at a time: lines that straddle the pieces, a line longer than a
// piece and a last line without a line feed read as the whole text does, and the digest follows
// every byte.
TEST_F(PackageFileTest, ReadInPiecesAsWhole) {
  std::string many = kHeader;
  for (int i = 0; many.size() < 2'500'000; ++i) {
    const std::string name = "P" + std::to_string(i);
    many += "CBP " + name + " " + std::to_string(i) + " 5 0 60 80 0 T x\r\n";
    many += "WB " + name + " " + std::to_string(i) + " 5 0 1 900 200 0\n";
  }
  const std::string long_line = std::string(kHeader) + "CBP A 1 2 0 60 80 0 B " +
                                std::string(3'000'000, 'e') + "\nWB A 1 2 0 1 9 200 0";
  // Long lines first, then many short ones: the lists sized from the first piece must grow.
  std::string sparse_first = std::string(kHeader) + "NOTE " + std::string(300'000, 'n') + "\n";
  for (int i = 0; i < 40'000; ++i) {
    sparse_first += "SD_CBP S" + std::to_string(i) + " 1 2 0 6 8 0 T\n";
  }
  for (const std::string& text :
       {many, long_line, sparse_first, std::string(kHeader) + "CBP A 1 2"}) {
    SCOPED_TRACE(text.size());
    Package whole, pieces;
    ParsePackage(std::string_view(text), whole, Path("p.tmv"));
    const ContentDigest digest = ReadPackageFile(Write("p.tmv", text), pieces);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(FileDigest(Path("p.tmv")), digest);
    std::string changed = text;
    changed[changed.size() / 2] ^= 1;
    EXPECT_NE(FileDigest(Write("p.tmv", changed)), digest);
  }
  Package none;
  EXPECT_THROW(ReadPackageFile(Path("missing.tmv"), none), StageError);
}

}  // namespace
}  // namespace ostrel
