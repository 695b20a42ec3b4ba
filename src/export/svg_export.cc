// The SVG picture of a package: top view with dies, pads, fingers and wires, and side views.

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/numeric.h"
#include "base/text.h"
#include "export/exports.h"
#include "export/name_text.h"
#include "geometry/units.h"

namespace ostrel {
namespace {

constexpr double kPictureWidth = 960;  // px
constexpr double kTopViewWidth = 720;  // px; the legend takes the rest
constexpr double kTitleHeight = 40;    // px
constexpr double kSideViewHeight = 240;

// Inductance bins, light to dark would vanish on white, so blue to red at even strength.
constexpr const char* kBinColours[] = {"#2c7bb6", "#00a6ca", "#7fbc41", "#f29e2e", "#d7191c"};
constexpr int kBins = 5;

std::string Num(double value) { return RoundTripText(static_cast<float>(value)); }

// A bounding box in the drawing frame (x right, y down).
struct Box {
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0;
  double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;

  void Add(double x, double y) {
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
  }
  bool Empty() const { return !(x1 >= x0 && y1 >= y0); }
  double Width() const { return x1 - x0; }
  double Height() const { return y1 - y0; }
};

// A rectangle centred on a package point, drawn in the path frame (y = -package Y).
std::string CentredRect(double x, double package_y, double w, double h, const std::string& style) {
  return "<rect x=\"" + Num(x - w / 2) + "\" y=\"" + Num(-package_y - h / 2) + "\" width=\"" +
         Num(std::abs(w)) + "\" height=\"" + Num(std::abs(h)) + "\" " + style + "/>\n";
}

// A pad's extent along X and Y: Width runs along its die edge (X for sides T and B).
std::pair<double, double> AlongEdge(const std::string& side, double along, double across) {
  const std::string s = UpperAscii(side);
  if (s == "L" || s == "R") return {across, along};
  return {along, across};
}

// 1, 2 or 5 times a power of ten, near a fifth of `extent`.
double ScaleBarLength(double extent) {
  const double target = extent / 5;
  const double decade = std::pow(10.0, std::floor(std::log10(target)));
  for (const double m : {5.0, 2.0}) {
    if (m * decade <= target) return m * decade;
  }
  return decade;
}

}  // namespace

std::string SvgText(const ExportHeader& header, const Package& package, const WireList& wires) {
  const double wire_width_um = Wide(header.Params.WireDiameter) * kMicronsPerMil;

  // Top view extents: dies, pads, fingers and wire points, in the path frame.
  Box box;
  auto add_rect = [&](double x, double package_y, double w, double h) {
    box.Add(x - std::abs(w) / 2, -package_y - std::abs(h) / 2);
    box.Add(x + std::abs(w) / 2, -package_y + std::abs(h) / 2);
  };
  add_rect(0, 0, package.CompW, package.CompL);
  const bool stacked = package.HasStackedDie();
  // The stacked die offset in Y is stored with its sign inverted, so it is the package Y of
  // the centre with the sign turned.
  const double sd_x = package.SdXOffset, sd_y = -static_cast<double>(package.SdYOffset);
  if (stacked) add_rect(sd_x, sd_y, package.SdCompW, package.SdCompL);
  for (const PadList* pads : {&package.ChipPads, &package.StackPads}) {
    for (const BondPad& pad : *pads) {
      const auto [w, h] = AlongEdge(pad.Side, pad.Width, pad.Length);
      add_rect(pad.X, pad.Y, w, h);
      if (pad.FingerX != 0 || pad.FingerY != 0) {
        const auto [fw, fh] = AlongEdge(pad.Side, pad.FingerLength, pad.FingerWidth);
        add_rect(pad.FingerX, pad.FingerY, fw, fh);
      }
    }
  }
  for (const Wire& w : wires) {
    for (const WireSegment& s : w.Segments) {
      box.Add(s.X1, s.Y1);
      box.Add(s.X2, s.Y2);
    }
  }
  if (box.Empty() || box.Width() <= 0 || box.Height() <= 0) box = Box{-500, -500, 500, 500};
  const double margin = 0.04 * std::max(box.Width(), box.Height());
  box.x0 -= margin;
  box.y0 -= margin;
  box.x1 += margin;
  box.y1 += margin;
  const double top_height = std::min(kTopViewWidth * box.Height() / box.Width(), 900.0);
  const double um_per_px = std::max(box.Width() / kTopViewWidth, box.Height() / top_height);
  const double stroke = std::max(wire_width_um, 1.5 * um_per_px);

  // Inductance bins over the AC inductances of the wires.
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  for (const Wire& w : wires) {
    lo = std::min(lo, w.InductanceAC);
    hi = std::max(hi, w.InductanceAC);
  }
  const int bins = wires.empty() ? 0 : (hi > lo ? kBins : 1);
  auto bin_of = [&](float l) {
    if (bins <= 1) return 0;
    const int b = static_cast<int>((Wide(l) - Wide(lo)) / (Wide(hi) - Wide(lo)) * bins);
    return std::clamp(b, 0, bins - 1);
  };

  // Side views: the first wire of each kind.
  std::vector<std::size_t> examples;
  for (const WireKind kind : {WireKind::kBaseDie, WireKind::kStackedDie, WireKind::kStitch}) {
    for (std::size_t i = 0; i < wires.size(); ++i) {
      if (KindOf(wires[i]) == kind && !wires[i].Segments.empty()) {
        examples.push_back(i);
        break;
      }
    }
  }
  const double side_top = kTitleHeight + top_height + 30;
  const double total_height = side_top + (examples.empty() ? 0 : kSideViewHeight + 20);

  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kPictureWidth) +
         "\" height=\"" + Num(total_height) + "\" viewBox=\"0 0 " + Num(kPictureWidth) + " " +
         Num(total_height) + "\" font-family=\"sans-serif\" font-size=\"13\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out += "<text x=\"10\" y=\"24\" font-size=\"16\">Top view of " + XmlText(header.PackageName) +
         " (package frame, +Y up, microns)</text>\n";

  // Top view, drawn in microns: x = package X, y = -package Y (the path frame).
  // A transform rather than a nested viewport: simple renderers draw it too.
  out += "<g class=\"top-view\" transform=\"translate(0 " + Num(kTitleHeight) + ") scale(" +
         Num(1 / um_per_px) + ") translate(" + Num(-box.x0) + " " + Num(-box.y0) + ")\">\n";
  out += "<g class=\"dies\">\n";
  out += CentredRect(0, 0, package.CompW, package.CompL,
                     "fill=\"#e8e8e8\" stroke=\"#808080\" stroke-width=\"" + Num(um_per_px) + "\"");
  if (stacked) {
    out += CentredRect(
        sd_x, sd_y, package.SdCompW, package.SdCompL,
        ("fill=\"#d0d0d0\" stroke=\"#606060\" stroke-width=\"" + Num(um_per_px) + "\""));
  }
  out += "</g>\n<g class=\"fingers\" fill=\"#e6c35c\">\n";
  for (const PadList* pads : {&package.ChipPads, &package.StackPads}) {
    for (const BondPad& pad : *pads) {
      if (pad.FingerX == 0 && pad.FingerY == 0) continue;
      const auto [fw, fh] = AlongEdge(pad.Side, pad.FingerLength, pad.FingerWidth);
      out += CentredRect(pad.FingerX, pad.FingerY, fw, fh, "");
    }
  }
  out += "</g>\n<g class=\"pads\" fill=\"#a0a0a0\">\n";
  for (const PadList* pads : {&package.ChipPads, &package.StackPads}) {
    for (const BondPad& pad : *pads) {
      const auto [w, h] = AlongEdge(pad.Side, pad.Width, pad.Length);
      out += CentredRect(pad.X, pad.Y, w, h, "");
    }
  }
  out +=
      "</g>\n<g class=\"wires\" fill=\"none\" stroke-linecap=\"round\" stroke-linejoin=\"round\" "
      "stroke-width=\"" +
      Num(stroke) + "\">\n";
  for (const Wire& w : wires) {
    out += "<path data-wire=\"" + XmlText(w.Name) + "\" data-kind=\"" + KindName(KindOf(w)) +
           "\" stroke=\"" + kBinColours[bin_of(w.InductanceAC)] + "\" d=\"";
    for (std::size_t j = 0; j < w.Segments.size(); ++j) {
      const WireSegment& s = w.Segments[j];
      if (j == 0)
        out.append("M").append(RoundTripText(s.X1)).append(" ").append(RoundTripText(s.Y1));
      out.append(" L").append(RoundTripText(s.X2)).append(" ").append(RoundTripText(s.Y2));
    }
    out += "\"><title>" + XmlText(w.Name) + ": AC inductance " + FormatFixed3(w.InductanceAC) +
           " nH</title></path>\n";
  }
  out += "</g>\n";
  const double bar = ScaleBarLength(box.Width());
  const double bar_x = box.x0 + margin / 2, bar_y = box.y1 - margin / 2;
  out += "<line x1=\"" + Num(bar_x) + "\" y1=\"" + Num(bar_y) + "\" x2=\"" + Num(bar_x + bar) +
         "\" y2=\"" + Num(bar_y) + "\" stroke=\"black\" stroke-width=\"" + Num(2 * um_per_px) +
         "\"/>\n";
  out += "<text x=\"" + Num(bar_x) + "\" y=\"" + Num(bar_y - 4 * um_per_px) + "\" font-size=\"" +
         Num(12 * um_per_px) + "\">" + FormatGeneral(bar, 7) + " um</text>\n";
  out += "</g>\n";

  // Legend.
  double ly = kTitleHeight + 10;
  out += "<g class=\"legend\">\n<text x=\"" + Num(kTopViewWidth + 20) + "\" y=\"" + Num(ly + 12) +
         "\">AC inductance (nH)</text>\n";
  for (int b = 0; b < bins; ++b) {
    const double from = Wide(lo) + (Wide(hi) - Wide(lo)) * b / bins;
    const double to = Wide(lo) + (Wide(hi) - Wide(lo)) * (b + 1) / bins;
    ly += 24;
    out += "<rect x=\"" + Num(kTopViewWidth + 20) + "\" y=\"" + Num(ly) +
           "\" width=\"28\" height=\"12\" fill=\"" + kBinColours[b] + "\"/>\n";
    out += "<text x=\"" + Num(kTopViewWidth + 56) + "\" y=\"" + Num(ly + 11) + "\">" +
           FormatFixed3(from) + (bins > 1 ? " to " + FormatFixed3(to) : std::string()) +
           "</text>\n";
  }
  ly += 40;
  for (const auto& [fill, label] :
       {std::pair{"#e8e8e8", "base die"}, std::pair{"#d0d0d0", "stacked die"},
        std::pair{"#a0a0a0", "pad"}, std::pair{"#e6c35c", "finger"}}) {
    if (std::string(label) == "stacked die" && !stacked) continue;
    out += "<rect x=\"" + Num(kTopViewWidth + 20) + "\" y=\"" + Num(ly) +
           "\" width=\"28\" height=\"12\" stroke=\"#808080\" fill=\"" + fill + "\"/>\n";
    out += "<text x=\"" + Num(kTopViewWidth + 56) + "\" y=\"" + Num(ly + 11) + "\">" + label +
           "</text>\n";
    ly += 24;
  }
  out += "</g>\n";

  // Side views: height over the distance along the wire's plan direction, microns.
  const double panel_width = kPictureWidth / 3;
  for (std::size_t e = 0; e < examples.size(); ++e) {
    const Wire& w = wires[examples[e]];
    // Named references rather than a structured binding: clang 14 cannot capture a binding
    // in the lambda below.
    const auto ends = WireEnds(w);
    const auto& start = ends[0];
    const auto& end = ends[1];
    const double dx = Wide(end.X) - Wide(start.X);
    const double dy = Wide(-end.Y) - Wide(-start.Y);
    const double plan = std::hypot(dx, dy);
    const double ux = plan > 0 ? dx / plan : 1, uy = plan > 0 ? dy / plan : 0;
    auto along = [&](float x, float y) {
      return (Wide(x) - Wide(start.X)) * ux + (Wide(y) + Wide(start.Y)) * uy;
    };
    Box side;
    side.Add(0, 0);
    side.Add(0, -(Wide(package.CompZ) + Wide(stacked ? package.SdCompZ : 0.0f)));
    for (const WireSegment& s : w.Segments) {
      side.Add(along(s.X1, s.Y1), -static_cast<double>(s.Z1));
      side.Add(along(s.X2, s.Y2), -static_cast<double>(s.Z2));
    }
    const double pad_um = 0.08 * std::max(side.Width(), side.Height()) + 1;
    side.x0 -= pad_um;
    side.y0 -= pad_um;
    side.x1 += pad_um;
    side.y1 += pad_um;
    const double px = panel_width * static_cast<double>(e);
    const double scale =
        std::max(side.Width() / (panel_width - 20), side.Height() / (kSideViewHeight - 30));
    out += "<text x=\"" + Num(px + 10) + "\" y=\"" + Num(side_top + 14) +
           "\">Side view: " + XmlText(w.Name) + " (" + KindName(KindOf(w)) + ", " +
           std::to_string(w.Segments.size()) + " segments)</text>\n";
    out += "<g class=\"side-view\" transform=\"translate(" + Num(px + 10) + " " +
           Num(side_top + 24) + ") scale(" + Num(1 / scale) + ") translate(" + Num(-side.x0) + " " +
           Num(-side.y0) + ")\">\n";
    out += "<line x1=\"" + Num(side.x0) + "\" y1=\"0\" x2=\"" + Num(side.x1) +
           "\" y2=\"0\" stroke=\"#808080\" stroke-width=\"" + Num(scale) + "\"/>\n";
    // Dashed: the base die top, and the stacked die top when there is one.
    std::vector<double> tops = {Wide(package.CompZ)};
    if (stacked) tops.push_back(Wide(package.CompZ) + Wide(package.SdCompZ));
    for (const double top : tops) {
      out += "<line x1=\"" + Num(side.x0) + "\" y1=\"" + Num(-top) + "\" x2=\"" + Num(side.x1) +
             "\" y2=\"" + Num(-top) + "\" stroke=\"#808080\" stroke-dasharray=\"" + Num(4 * scale) +
             "\" stroke-width=\"" + Num(scale) + "\"/>\n";
    }
    out += "<path fill=\"none\" stroke=\"" + std::string(kBinColours[bin_of(w.InductanceAC)]) +
           "\" stroke-width=\"" + Num(2 * scale) + "\" d=\"";
    for (std::size_t j = 0; j < w.Segments.size(); ++j) {
      const WireSegment& s = w.Segments[j];
      if (j == 0) out.append("M").append(Num(along(s.X1, s.Y1))).append(" ").append(Num(-s.Z1));
      out.append(" L").append(Num(along(s.X2, s.Y2))).append(" ").append(Num(-s.Z2));
    }
    out += "\"/>\n<g fill=\"black\">\n";
    for (const WireSegment& s : w.Segments) {
      out += "<circle cx=\"" + Num(along(s.X2, s.Y2)) + "\" cy=\"" + Num(-s.Z2) + "\" r=\"" +
             Num(3 * scale) + "\"/>\n";
    }
    out += "</g>\n</g>\n";
  }
  if (!examples.empty()) {
    out += "<text x=\"10\" y=\"" + Num(total_height - 6) +
           "\" font-size=\"11\" fill=\"#606060\">Side views: height over the distance along "
           "the wire in plan, microns; solid line: substrate; dashed: die tops; dots: "
           "segment ends.</text>\n";
  }
  out += "</svg>\n";
  return out;
}

}  // namespace ostrel
