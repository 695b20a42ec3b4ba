// The SVG picture, read with xmllint: well-formed, one path per wire through the wire's own
// points, coloured by its AC inductance.

#include <gtest/gtest.h>

#include <map>

#include "export/exports.h"
#include "export_test_support.h"

namespace ostrel {
namespace {

using namespace testing_support;

// The points of a path written as "M x y L x y ...".
std::vector<std::pair<float, float>> PathPoints(const std::string& d) {
  std::istringstream in(d);
  std::vector<std::pair<float, float>> points;
  for (std::string op, y; in >> op >> y;) {
    EXPECT_TRUE(op.size() > 1 && (op[0] == 'M' || op[0] == 'L')) << d;
    points.emplace_back(ParseFloat(op.substr(1)), ParseFloat(y));
  }
  return points;
}

TEST(SvgEndToEnd, OnePathPerWireThroughItsEnds) {
  const fs::path dir = ExampleFolder();
  RunCli(dir, "--svg w.svg --json w.json");
  Query(dir, "xmllint --noout w.svg");
  // Root, wire paths, die outlines at their sizes (base 3000, stacked 1800), side views.
  EXPECT_EQ(
      Query(dir, std::string("xmllint --xpath 'concat(local-name(/*), \" \", namespace-uri(/*), "
                             "\" \", count(") +
                     kPaths +
                     "), \" \", count(//*[local-name()=\"rect\"][@width=3000][@height=3000]), "
                     "\" \", count(//*[local-name()=\"rect\"][@width=1800][@height=1800]), "
                     "\" \", count(//*[@class=\"side-view\"]))' w.svg"),
      "svg http://www.w3.org/2000/svg 40 1 1 3\n");
  const std::vector<std::string> wires =
      Split(Query(dir,
                  "jq -r '.wires[] | [.name, .kind, .segments, .start_um[0,1], .end_um[0,1], "
                  ".inductance_ac_nh] | @tsv' w.json"),
            "\n");
  ASSERT_EQ(wires.size(), 40u);
  std::map<float, std::string> colour_of;  // by AC inductance
  for (std::size_t i = 0; i < wires.size(); ++i) {
    const std::vector<std::string> w = Split(wires[i], "\t"),
                                   path = PathFields(dir, "w.svg", i + 1);
    SCOPED_TRACE(w[0]);
    ASSERT_EQ(path.size(), 4u);
    EXPECT_EQ(path[0], w[0]);
    EXPECT_EQ(path[1], w[1]);
    const auto points = PathPoints(path[3]);
    // Drawn in plan with +Y up: x = package X, y = -package Y.
    ASSERT_EQ(points.size(), std::stoul(w[2]) + 1);
    EXPECT_EQ(points.front(), std::make_pair(ParseFloat(w[3]), -ParseFloat(w[4])));
    EXPECT_EQ(points.back(), std::make_pair(ParseFloat(w[5]), -ParseFloat(w[6])));
    colour_of[ParseFloat(w[7])] = path[2];
  }
  // The lowest and highest inductance fall in different legend bins.
  const std::string legend =
      Query(dir, "xmllint --xpath '//*[local-name()=\"rect\"][@width=28]/@fill' w.svg");
  EXPECT_NE(legend.find(colour_of.begin()->second), std::string::npos) << legend;
  EXPECT_NE(legend.find(colour_of.rbegin()->second), std::string::npos) << legend;
  EXPECT_NE(colour_of.begin()->second, colour_of.rbegin()->second);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ostrel
