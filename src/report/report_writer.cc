#include "report/report_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "base/large_pages.h"
#include "base/numeric.h"
#include "base/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kFieldWidth = 12;
constexpr std::string_view kLineBreak = "\r\n";

void AppendValueField(std::string& out, float value) { AppendFixed3Field(out, value, kFieldWidth); }

// label (23 characters) + value field + unit text (with its leading space) + CR LF.
void AppendNumberLine(std::string& out, std::string_view label, float value,
                      std::string_view unit) {
  out += label;
  AppendValueField(out, value);
  out += unit;
  out += kLineBreak;
}

void AppendLine(std::string& out, const std::string& text) {
  out += text;
  out += kLineBreak;
}

// Copies a text of known length to `p`; returns its end.
template <std::size_t N>
char* Put(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + (N - 1);
}

// A number line of a wire's block written at `p`, as AppendNumberLine writes it.
template <std::size_t L, std::size_t U>
char* PutNumberLine(char* p, const char (&label)[L], float value, const char (&unit)[U]) {
  p = Put(p, label);
  p = WriteFixed3Field12(p, value);
  static_assert(kFieldWidth == 12);
  p = Put(p, unit);
  return Put(p, "\r\n");
}

// The most bytes a wire's block takes besides its name: "Pad: " and CR LF, six number lines of
// a 23-character label, a field and at most 8 characters of unit with CR LF, and the blank line.
constexpr std::size_t kBlockBytes = 5 + 2 + 6 * (23 + kFieldWidth + 8 + 2) + 2;

// The report's block of one wire, written at `p` (kBlockBytes + the name's length of room);
// returns its end.
char* PutWireBlock(char* p, const Wire& w) {
  p = Put(p, "Pad: ");
  std::memcpy(p, w.Name.data(), w.Name.size());
  p = Put(p + w.Name.size(), "\r\n");
  p = PutNumberLine(p, "  Length:              ", w.Length, " Microns");
  p = PutNumberLine(p, "  Resistance:          ", w.Resistance, " mOhms");
  p = PutNumberLine(p, "  Inductance DC:       ", w.InductanceDC, " nH");
  p = PutNumberLine(p, "  Inductance AC:       ", w.InductanceAC, " nH");
  p = PutNumberLine(p, "  Inductance Self:     ", w.InductanceSelf, " nH");
  p = PutNumberLine(p, "  Inductance Mutual:   ", w.InductanceMutual, " nH");
  return Put(p, "\r\n");
}

}  // namespace

std::string ValueField(float value) {
  std::string out;
  AppendValueField(out, value);
  return out;
}

std::pair<float, const char*> ScaledFrequency(float hz) {
  static constexpr const char* kUnits[] = {"hz", "Khz", "Mhz", "Ghz"};
  float f = hz;
  int unit = 0;
  for (int i = 0; i < 3; ++i) {
    if (f >= 1000.0f) {
      f = ToSingle(Wide(f) / 1000.0);
      ++unit;
    }
  }
  return {f, kUnits[unit]};
}

namespace {

// The header lines, appended to `out`.
void AppendHeader(std::string& out, const ReportHeader& header) {
  const ParameterSet& p = header.Params;
  AppendLine(out, "*Input File: " + header.SettingsName);
  AppendLine(out, "*Output File: " + header.SettingsName + ".doc");
  AppendLine(out, "*");
  AppendLine(out, "*Material: " + std::string(22, ' ') + p.Material);
  const auto [frequency, unit] = ScaledFrequency(p.Frequency);
  AppendNumberLine(out, "*Frequency:            ", frequency, std::string(" ") + unit);
  AppendNumberLine(out, "*Wire Diameter:        ", p.WireDiameter, " Mils");
  AppendNumberLine(out, "*Wire Distance:        ", p.WireDistance, " Microns");
  AppendLine(out, "*");
  AppendNumberLine(out, "*Base Loop Height:     ", p.BaseLoopHeight, " Microns");
  AppendNumberLine(out, "*Base Extension:       ", p.BaseExtension, " Microns");
  if (header.HasStackedDie) {
    AppendLine(out, "*");
    AppendNumberLine(out, "*Stack Loop Height:    ", p.StackLoopHeight, " Microns");
    AppendNumberLine(out, "*Stack Extension:      ", p.StackExtension, " Microns");
  }
  if (header.HasStitches) {
    AppendNumberLine(out, "*Stich Extension:      ", p.StichExtension, " Microns");
  }
  AppendLine(out, "*");
}

// Appends the block of wire `w` to `out`: room for it, written in place, then cut to what it
// took.
void AppendWireBlock(std::string& out, const Wire& w) {
  const std::size_t at = out.size();
  out.resize(at + kBlockBytes + w.Name.size());
  out.resize(static_cast<std::size_t>(PutWireBlock(out.data() + at, w) - out.data()));
}

// A quarter megabyte at a time: the report is never held whole, so a large one costs no more
// memory than a small one.
constexpr std::size_t kPieceBytes = std::size_t{1} << 18;

}  // namespace

std::string ReportText(const ReportHeader& header, const WireList& wires) {
  std::string out;
  out.reserve(LargePageRoom(1024 + wires.size() * 330));
  AdviseLargePages(out.data(), out.capacity());
  AppendHeader(out, header);
  for (const Wire& w : wires) AppendWireBlock(out, w);
  return out;
}

ReportPieces::ReportPieces(const ReportHeader& header, std::function<void(std::string_view)> write)
    : write_(std::move(write)) {
  std::string head;
  AppendHeader(head, header);
  capacity_ = std::max(kPieceBytes + 4096, head.size());
  piece_ = std::make_unique_for_overwrite<char[]>(capacity_);
  std::memcpy(piece_.get(), head.data(), head.size());
  size_ = head.size();
}

void ReportPieces::Add(const Wire& wire) {
  const std::size_t room = kBlockBytes + wire.Name.size();
  if (capacity_ - size_ < room) {
    Flush();
    if (capacity_ < room) {  // a name longer than a piece
      piece_ = std::make_unique_for_overwrite<char[]>(room);
      capacity_ = room;
    }
  }
  size_ = static_cast<std::size_t>(PutWireBlock(piece_.get() + size_, wire) - piece_.get());
  if (size_ >= kPieceBytes) Flush();
}

void ReportPieces::Flush() {
  if (size_ > 0) write_(std::string_view(piece_.get(), size_));
  size_ = 0;
}

void ReportPieces::Finish() { Flush(); }

void WriteReportPieces(const ReportHeader& header, const WireList& wires,
                       const std::function<void(std::string_view)>& write) {
  ReportPieces pieces(header, write);
  for (const Wire& w : wires) pieces.Add(w);
  pieces.Finish();
}

void WriteReport(std::ostream& out, const ReportHeader& header, const WireList& wires) {
  WriteReportPieces(header, wires, [&out](std::string_view piece) {
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  });
}

}  // namespace ostrel
