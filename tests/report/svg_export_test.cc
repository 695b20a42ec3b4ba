// The SVG picture: well-formed, one path per wire through the wire's own points.

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "export_test_support.h"
#include "report/exports.h"

namespace ostrel {
namespace {

using namespace testing_support;

// The points of a path written as "M x y L x y ...".
std::vector<std::pair<float, float>> PathPoints(const std::string& d) {
  std::istringstream in(d);
  std::vector<std::pair<float, float>> points;
  for (std::string op, x, y; in >> op >> y;) {
    EXPECT_TRUE(op.size() > 1 && (op[0] == 'M' || op[0] == 'L')) << d;
    x = op.substr(1);
    points.emplace_back(ParseFloat(x), ParseFloat(y));
  }
  return points;
}

std::vector<const XmlElement*> WirePaths(const std::vector<XmlElement>& elements) {
  std::vector<const XmlElement*> paths;
  for (const XmlElement& e : elements) {
    if (e.name == "path" && e.attributes.count("data-wire")) paths.push_back(&e);
  }
  return paths;
}

TEST(SvgEndToEnd, OnePathPerWireThroughItsEnds) {
  const fs::path dir = ExampleFolder();
  std::string log;
  ASSERT_EQ(
      RunIn(dir, std::string("'") + OSTREL_CLI_PATH + "' --svg w.svg --json w.json AAAc.zv", log),
      0)
      << log;
  const std::vector<XmlElement> svg = ReadXml(ReadWholeFile((dir / "w.svg").string()));
  const Json doc = JsonReader::Parse(ReadWholeFile((dir / "w.json").string()));
  fs::remove_all(dir);
  ASSERT_FALSE(svg.empty());
  EXPECT_EQ(svg[0].name, "svg");
  EXPECT_EQ(svg[0].attributes.at("xmlns"), "http://www.w3.org/2000/svg");

  const auto paths = WirePaths(svg);
  const auto& wires = doc["wires"].items;
  ASSERT_EQ(paths.size(), wires.size());
  std::set<std::string> legend_colours;
  for (const XmlElement& e : svg) {
    if (e.name == "rect" && e.attributes.count("fill") && e.attributes.count("width") &&
        e.attributes.at("width") == "28") {
      legend_colours.insert(e.attributes.at("fill"));
    }
  }
  float lowest = 1e30f, highest = -1e30f;
  std::string lowest_colour, highest_colour;
  for (std::size_t i = 0; i < wires.size(); ++i) {
    const Json& w = wires[i];
    SCOPED_TRACE(w["name"].text);
    EXPECT_EQ(paths[i]->attributes.at("data-wire"), w["name"].text);
    EXPECT_EQ(paths[i]->attributes.at("data-kind"), w["kind"].text);
    const auto points = PathPoints(paths[i]->attributes.at("d"));
    // Drawn in plan with +Y up: x = package X, y = -package Y.
    ASSERT_EQ(points.size(), std::stoul(w["segments"].text) + 1);
    EXPECT_EQ(points.front().first, w["start_um"].items[0].Float());
    EXPECT_EQ(points.front().second, -w["start_um"].items[1].Float());
    EXPECT_EQ(points.back().first, w["end_um"].items[0].Float());
    EXPECT_EQ(points.back().second, -w["end_um"].items[1].Float());
    const std::string colour = paths[i]->attributes.at("stroke");
    EXPECT_TRUE(legend_colours.count(colour)) << colour;
    const float l = w["inductance_ac_nh"].Float();
    if (l < lowest) lowest = l, lowest_colour = colour;
    if (l > highest) highest = l, highest_colour = colour;
  }
  EXPECT_NE(lowest_colour, highest_colour);

  // Die outlines at their sizes; one side view per kind of wire.
  std::set<std::pair<std::string, std::string>> rect_sizes;
  std::size_t side_views = 0;
  for (const XmlElement& e : svg) {
    if (e.name == "rect" && e.attributes.count("height")) {
      rect_sizes.insert({e.attributes.at("width"), e.attributes.at("height")});
    }
    if (e.name == "g" && e.attributes.count("class") && e.attributes.at("class") == "side-view") {
      ++side_views;
    }
  }
  EXPECT_TRUE(rect_sizes.count({"3000", "3000"}));
  EXPECT_TRUE(rect_sizes.count({"1800", "1800"}));
  EXPECT_EQ(side_views, 3u);
}

TEST(SvgTextTest, AnyNameKeepsTheXmlWellFormed) {
  struct Row {
    std::string name;
    std::size_t wires;
  };
  const Row rows[] = {{"<a&\"b'>", 1}, {"bell\a", 1}, {"\xc3\x9c", 1}, {"none", 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Package pkg;
    pkg.CompW = pkg.CompL = 1000;
    std::vector<Wire> wires;
    if (row.wires > 0) {
      Wire w;
      w.Name = row.name;
      w.StackWire = true;
      w.Segments = {WireSegment{0, 0, 100, 50, 0, 200}, WireSegment{50, 0, 200, 700, -10, 0}};
      wires.push_back(w);
    }
    const ExportHeader header{"s.zv", row.name + ".tmv", ParameterSet{}};
    std::vector<XmlElement> svg;
    ASSERT_NO_THROW(svg = ReadXml(SvgText(header, pkg, wires)));
    const auto paths = WirePaths(svg);
    ASSERT_EQ(paths.size(), row.wires);
    if (row.wires > 0) {
      const std::string shown = row.name == "bell\a" ? "bell?" : row.name;
      EXPECT_EQ(paths[0]->attributes.at("data-wire"), shown);
      EXPECT_EQ(PathPoints(paths[0]->attributes.at("d")).size(), 3u);
    }
  }
}

}  // namespace
}  // namespace ostrel
