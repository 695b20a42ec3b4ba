// The .npz container: CRC-32, .npy headers (alignment, version), and the ZIP archive read back
// through its central directory, with ZIP64 fields forced by a small threshold.

#include "export/npz_archive.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/stage_error.h"

namespace ostrel {
namespace {

std::uint64_t Le(const std::string& bytes, std::size_t at, int size) {
  std::uint64_t v = 0;
  for (int k = size - 1; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + k));
  return v;
}

TEST(Crc32Test, KnownValuesAndContinuation) {
  struct Row {
    std::string_view text;
    std::uint32_t crc;
  };
  for (const Row& row : {Row{"", 0}, Row{"a", 0xE8B7BE43}, Row{"123456789", 0xCBF43926}}) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Crc32(row.text), row.crc);
  }
  EXPECT_EQ(Crc32("6789", Crc32("12345")), 0xCBF43926u);
}

TEST(NpyHeaderTest, DictPaddedToSixtyFourBytesAndVersionByLength) {
  struct Row {
    std::string descr;
    std::vector<std::uint64_t> shape;
    std::string shape_text;
    char version;
  };
  const std::vector<Row> rows = {
      {"<f8", {}, "()", 1},
      {"<U7", {3}, "(3,)", 1},
      {"|b1", {2, 0}, "(2, 0)", 1},
      // 22,000 dimensions need more than the 65,535 bytes of a version 1.0 length.
      {"<i8", std::vector<std::uint64_t>(22000, 1), "(1, 1, 1", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shape_text);
    const std::string h = NpyHeader(row.descr, row.shape);
    const std::size_t prefix = row.version == 1 ? 10 : 12;
    EXPECT_EQ(h.size() % 64, 0u);
    EXPECT_EQ(h.substr(0, 6), "\x93NUMPY");
    EXPECT_EQ(h[6], row.version);
    EXPECT_EQ(h[7], 0);
    EXPECT_EQ(Le(h, 8, row.version == 1 ? 2 : 4), h.size() - prefix);
    const std::string dict =
        "{'descr': '" + row.descr + "', 'fortran_order': False, 'shape': " + row.shape_text;
    EXPECT_EQ(h.substr(prefix, dict.size()), dict);
    EXPECT_EQ(h.back(), '\n');
    EXPECT_EQ(h.find_last_not_of(' ', h.size() - 2), h.rfind('}'));
  }
}

// Two arrays: "a" (3 doubles, 152 bytes as a member) and "b" (2 x 2 integers, 160 bytes), each
// with a 128-byte .npy header.
std::vector<NpyArray> TwoArrays() {
  const auto fill = [](std::size_t bytes, char c) {
    return [bytes, c](const ByteSink& out) { out(std::string(bytes, c)); };
  };
  return {{"a", "<f8", {3}, fill(24, 'a')}, {"b", "<i8", {2, 2}, fill(32, 'b')}};
}

TEST(NpzArchiveTest, CentralDirectoryFindsEveryMemberWithZip64WhereSizesOrOffsetsReachIt) {
  struct Row {
    std::uint64_t zip64_from;
    int zip64_members;  // central entries with a ZIP64 extra field
    bool zip64_end;
  };
  // "a" at 0 (152 bytes), "b" at 187 (160 bytes), the directory after it.
  for (const Row& row : {Row{kZip64From, 0, false}, Row{155, 1, true}, Row{0, 2, true}}) {
    SCOPED_TRACE(row.zip64_from);
    std::string zip;
    WriteNpz(
        TwoArrays(), [&](std::string_view b) { zip += b; }, row.zip64_from);
    const std::size_t end = zip.size() - 22;
    ASSERT_EQ(Le(zip, end, 4), 0x06054b50u);
    std::uint64_t count = Le(zip, end + 10, 2), directory = Le(zip, end + 16, 4);
    EXPECT_EQ(Le(zip, end - 20, 4) == 0x07064b50u, row.zip64_end);
    if (row.zip64_end) {
      const std::uint64_t end64 = Le(zip, end - 12, 8);
      ASSERT_EQ(Le(zip, end64, 4), 0x06064b50u);
      count = Le(zip, end64 + 32, 8);
      directory = Le(zip, end64 + 48, 8);
    }
    ASSERT_EQ(count, 2u);
    int zip64_members = 0;
    std::size_t at = directory;
    for (const char* name : {"a.npy", "b.npy"}) {
      ASSERT_EQ(Le(zip, at, 4), 0x02014b50u);
      const std::uint64_t crc = Le(zip, at + 16, 4), name_size = Le(zip, at + 28, 2);
      const std::uint64_t extra_size = Le(zip, at + 30, 2);
      std::uint64_t size = Le(zip, at + 24, 4), offset = Le(zip, at + 42, 4);
      std::size_t field = at + 46 + name_size + 4;
      if (extra_size > 0) {
        ++zip64_members;
        EXPECT_EQ(Le(zip, at + 46 + name_size, 2), 1u);
        if (size == 0xFFFFFFFF) size = Le(zip, (field += 16) - 8, 8);  // the second: compressed
        if (offset == 0xFFFFFFFF) offset = Le(zip, field, 8);
      }
      EXPECT_EQ(zip.substr(at + 46, name_size), name);
      // The local header: the same name, then the .npy member, whose CRC is the directory's.
      ASSERT_EQ(Le(zip, offset, 4), 0x04034b50u);
      const std::size_t data = offset + 30 + Le(zip, offset + 26, 2) + Le(zip, offset + 28, 2);
      EXPECT_EQ(zip.substr(offset + 30, name_size), name);
      EXPECT_EQ(zip.substr(data, 6), "\x93NUMPY");
      EXPECT_EQ(Crc32(zip.substr(data, size)), crc);
      EXPECT_EQ(zip.substr(data + size - 4, 4), std::string(4, name[0]));
      at += 46 + name_size + extra_size;
    }
    EXPECT_EQ(zip64_members, row.zip64_members);
  }
}

TEST(NpzArchiveTest, DataOfTheWrongSizeFailsBeforeItsMemberIsWritten) {
  std::vector<NpyArray> arrays = TwoArrays();
  arrays[1].shape = {2, 3};
  std::string zip;
  EXPECT_THROW(WriteNpz(arrays, [&](std::string_view b) { zip += b; }), StageError);
  EXPECT_EQ(zip.find("b.npy"), std::string::npos);
}

}  // namespace
}  // namespace ostrel
