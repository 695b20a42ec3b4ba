#include "report/report_writer.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(ReportWriterTest, ValueFieldIsTwelveCharacters) {
  struct Row {
    float value;
    std::string field;
  };
  const Row rows[] = {
      {1234.5678f, "    1234.568"},
      {-1.0f, "      -1.000"},
      {0.0f, "       0.000"},
      {100000000.0f, "00000000.000"},
      {99999.99f, "   99999.992"},
      {-0.0001f, "       0.000"},
      // The widest texts that fit, and the narrowest that do not: the last 12 characters.
      {-9999999.0f, "-9999999.000"},
      {10000000.0f, "10000000.000"},
      {-10000000.0f, "10000000.000"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.field);
    EXPECT_EQ(ValueField(row.value), row.field);
  }
}

TEST(ReportWriterTest, FrequencyUnits) {
  struct Row {
    float hz;
    float value;
    std::string unit;
  };
  const Row rows[] = {{999, 999, "hz"},     {1000, 1, "Khz"},          {2.5e6f, 2.5f, "Mhz"},
                      {1e12f, 1000, "Ghz"}, {999999, 999.999f, "Khz"}, {0, 0, "hz"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hz);
    const auto [value, unit] = ScaledFrequency(row.hz);
    EXPECT_EQ(value, row.value);
    EXPECT_EQ(unit, row.unit);
  }
}

TEST(ReportWriterTest, HeaderLinesFollowTheDies) {
  ReportHeader h;
  h.Params.Material = "Au";
  h.Params.Frequency = 1e6f;
  const std::string plain = ReportText(h, {});
  EXPECT_EQ(plain,
            "*Input File: \r\n*Output File: .doc\r\n*\r\n*Material:                       Au\r\n"
            "*Frequency:                   1.000 Mhz\r\n"
            "*Wire Diameter:               0.000 Mils\r\n"
            "*Wire Distance:               0.000 Microns\r\n*\r\n"
            "*Base Loop Height:            0.000 Microns\r\n"
            "*Base Extension:              0.000 Microns\r\n*\r\n");
  h.HasStackedDie = true;
  h.HasStitches = true;
  h.Params.StackExtension = -1;
  const std::string both = ReportText(h, {});
  EXPECT_NE(both.find("Microns\r\n*\r\n*Stack Loop Height:"), std::string::npos);
  EXPECT_NE(both.find("*Stack Extension:            -1.000 Microns\r\n*Stich Extension:"),
            std::string::npos);
}

}  // namespace
}  // namespace ostrel
