#pragma once

// What every fuzz target checks after a run that did not end with a StageError: the estimation
// never leaves an infinity or NaN in a result and never builds a wire past the segment limit.
// A broken promise aborts, which libFuzzer and the replay driver both report as a failure.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/stage_error.h"
#include "export/name_text.h"
#include "geometry/wire.h"
#include "geometry/wire_paths.h"

namespace ostrel::fuzz {

// The memory the wires of one input may take: inputs whose wires ask for more end with the
// estimation's error well within the time allowed for one input, as a package past the usual
// bound (kMaxWireMemoryBytes) does.
inline constexpr std::size_t kWireMemoryBytes = std::size_t{16} << 20;

[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "broken promise: %s\n", what.c_str());
  std::abort();
}

inline void CheckFinite(float value, const char* what, const std::string& wire = {}) {
  if (!std::isfinite(value)) Broken(std::string(what) + " " + wire + " is not finite");
}

inline void CheckWires(const WireList& wires) {
  for (const Wire& w : wires) {
    if (w.Segments.size() > static_cast<std::size_t>(kMaxSegmentsPerWire)) {
      Broken("wire " + w.Name + " has " + std::to_string(w.Segments.size()) + " segments");
    }
    for (const WireSegment& s : w.Segments) {
      for (const float v :
           {s.X1, s.Y1, s.Z1, s.X2, s.Y2, s.Z2, s.Length, s.Resistance, s.Inductance}) {
        if (!std::isfinite(v)) CheckFinite(v, "a segment value of wire", w.Name);
      }
    }
    for (const float v : {w.Length, w.Resistance, w.InductanceDC, w.InductanceAC, w.InductanceSelf,
                          w.InductanceMutual}) {
      CheckFinite(v, "a result of wire", w.Name);
    }
  }
}

// Report numbers are written "0.000"; an infinity or NaN would show as letters in a field.
inline void CheckReport(std::string_view report) {
  for (const std::string_view bad : {"inf", "nan", "INF", "NAN"}) {
    std::size_t at = 0;
    while ((at = report.find(bad, at)) != std::string_view::npos) {
      // Names from the package may hold these letters; a number field is preceded by blanks
      // or a sign.
      if (at > 0 && (report[at - 1] == ' ' || report[at - 1] == '-')) {
        const std::size_t eol = report.find('\r', at);
        const std::size_t bol = report.rfind('\n', at);
        const std::string_view line =
            report.substr(bol == std::string_view::npos ? 0 : bol + 1,
                          (eol == std::string_view::npos ? report.size() : eol) -
                              (bol == std::string_view::npos ? 0 : bol + 1));
        if (line.rfind("Pad: ", 0) != 0 && line.rfind("*Input", 0) != 0 &&
            line.rfind("*Output", 0) != 0 && line.rfind("*Material", 0) != 0) {
          Broken("report line '" + std::string(line) + "'");
        }
      }
      ++at;
    }
  }
}

// An export of text (CSV, JSON, SVG) is valid UTF-8 whatever bytes the names hold, and holds no
// character that its format cannot carry raw: no control character below U+0020 in JSON but
// the line feeds of its layout; none in XML but tab, line feed and carriage return, and no
// U+FFFE or U+FFFF.
inline void CheckExportText(std::string_view text, const char* format) {
  if (!IsUtf8(text)) Broken(std::string(format) + " export is not valid UTF-8");
  const std::string_view format_name(format);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool allowed = format_name == "JSON"  ? c >= 0x20 || c == '\n'
                         : format_name == "SVG" ? c >= 0x20 || c == '\t' || c == '\n' || c == '\r'
                                                : true;
    if (!allowed) Broken(std::string(format) + " export holds control byte " + std::to_string(c));
    if (format_name == "SVG" && text.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < text.size() &&
        (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
      Broken("SVG export holds U+FFFE or U+FFFF");
    }
  }
}

// A StageError always carries a reason a reader can act on.
inline void CheckError(const StageError& e) {
  if (e.reason().empty()) Broken("a StageError without a reason");
}

}  // namespace ostrel::fuzz
