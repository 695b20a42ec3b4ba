#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/parameter_set.h"
#include "geometry/wire.h"

namespace ostrel {

// What the report says about the run besides the wires.
struct ReportHeader {
  std::string SettingsName;  // file name of the settings file (empty when there is none)
  ParameterSet Params;
  bool HasStackedDie = false;  // prints the stacked-die loop lines
  bool HasStitches = false;    // prints the stitch extension line
};

// A number as the report writes it: "0.000", right-aligned in 12 characters (a longer number
// keeps its last 12 characters).
std::string ValueField(float value);

// The frequency scaled to hz, Khz, Mhz or Ghz (dividing by 1000 while at least 1000, at most
// three times), e.g. {1.0f, "Khz"} for 1000 Hz.
std::pair<float, const char*> ScaledFrequency(float hz);

// The report: header lines starting with "*", then one block per wire with its length,
// resistance and four inductances. Lines end with CR LF.
std::string ReportText(const ReportHeader& header, const WireList& wires);
// The same bytes handed to `write` in pieces of about a quarter megabyte, in order.
void WriteReportPieces(const ReportHeader& header, const WireList& wires,
                       const std::function<void(std::string_view)>& write);
void WriteReport(std::ostream& out, const ReportHeader& header, const WireList& wires);

// The report written as its wires come, one at a time: the header lines when it is made, then
// each wire's block, the bytes handed to `write` in pieces of about a quarter megabyte, in
// order; Finish hands over the last piece. The bytes are those of ReportText for the same
// header and wires.
class ReportPieces {
 public:
  ReportPieces(const ReportHeader& header, std::function<void(std::string_view)> write);
  void Add(const Wire& wire);
  void Finish();

 private:
  // Hands over the bytes gathered so far.
  void Flush();

  std::function<void(std::string_view)> write_;
  // The piece being gathered: written in place, never cleared first.
  std::unique_ptr<char[]> piece_;
  std::size_t size_ = 0, capacity_ = 0;
};

}  // namespace ostrel
