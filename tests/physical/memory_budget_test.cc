#include "physical/memory_budget.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "base/stage_error.h"

namespace ostrel::physical {
namespace {

TEST(MemoryBudget, MemAvailableIsReadInKibibytes) {
  const struct {
    const char* meminfo;
    std::optional<std::uint64_t> bytes;
  } rows[] = {
      {"MemTotal:       16384 kB\nMemFree:  1 kB\nMemAvailable:    2048 kB\n", 2048u * 1024},
      {"MemAvailable: 0 kB", 0},
      {"MemTotal:       16384 kB\nMemFree:  1 kB\n", std::nullopt},
      {"MemAvailable:  lots kB\n", std::nullopt},
      {"MemAvailable:  2048\n", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.meminfo);
    EXPECT_EQ(MemAvailableBytes(row.meminfo), row.bytes);
  }
}

TEST(MemoryBudget, DenseBytesSaturates) {
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(DenseBytes(100000, 100000, 8), std::size_t{80'000'000'000});
  EXPECT_EQ(DenseBytes(0, 100000, 8), 0u);
  EXPECT_EQ(DenseBytes(std::size_t{1} << 32, std::size_t{1} << 32, 1), kMax);
  EXPECT_EQ(DenseBytes(std::size_t{1} << 31, std::size_t{1} << 31, 8), kMax);
}

TEST(MemoryBudget, RefusesBeyondTheTightestBound) {
  const struct {
    const char* name;
    std::size_t bytes;
    MemoryRoom room;
    std::string says;  // empty: fits
  } rows[] = {
      {"no bound known", std::size_t{1} << 50, {}, ""},
      {"exactly the room", 4'000'000'000, {4'000'000'000, {}, {}}, ""},
      {"one byte over",
       4'000'000'001,
       {4'000'000'000, {}, {}},
       "needs 4.0 GB, more than the 4.0 GB of available memory"},
      {"address space tighter",
       80'000'000'000,
       {64'000'000'000, 500'000'000, {}},
       "needs 80.0 GB, more than the 500 MB of address space left under the process limit"},
      {"cgroup tighter",
       2'500'000'000,
       {64'000'000'000, 8'000'000'000, 1'200'000'000},
       "needs 2.5 GB, more than the 1.2 GB of memory left under the control group's limit"},
      {"nothing left", 1000, {0, {}, {}}, "needs 1 kB, more than the 0 kB of available memory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.says.empty()) {
      EXPECT_NO_THROW(CheckDenseFits(row.bytes, "the matrix", row.room));
      continue;
    }
    try {
      CheckDenseFits(row.bytes, "the dense loop inductance matrix of 5 wires", row.room);
      ADD_FAILURE() << "not refused";
    } catch (const StageError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("the dense loop inductance matrix of 5 wires " + row.says, 0), 0u)
          << message;
      EXPECT_NE(message.find("--no-capacitance"), std::string::npos) << message;
      EXPECT_NE(message.find("--nets"), std::string::npos) << message;
    }
  }
}

TEST(MemoryBudget, ThisMachineReportsItsAvailableMemory) {
  const MemoryRoom room = CurrentMemoryRoom();
  ASSERT_TRUE(room.available.has_value());
  EXPECT_GT(*room.available, 0u);
  EXPECT_THROW(CheckDenseFits(std::numeric_limits<std::size_t>::max(), "all of it"), StageError);
}

}  // namespace
}  // namespace ostrel::physical
