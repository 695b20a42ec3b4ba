#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text, number and path helpers shared by the package reader, the settings file, the parameter
// panel and the report. Numbers are always written with '.' as the decimal separator; reading
// accepts '.' or ','.
namespace ostrel {

// Hands out the lines of a text held in memory. A line feed ends a line and is not part of it;
// carriage returns are dropped wherever they stand (CR LF and LF files read alike, a file of
// lone CRs reads as one line). A last line without a line feed is returned whole; a text
// ending in a line feed yields no extra empty line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  // Sets `line` to the next line (valid until the next call) and returns true, or returns
  // false at the end of the text.
  bool Next(std::string_view& line);

  // 1-based number of the line last returned by Next.
  int line_number() const { return line_number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int line_number_ = 0;
  std::string scratch_;
};

// Splits `line` into fields at `separator`, replacing the contents of `fields` (views into
// `line`). With the blank as separator, any run of blanks and tabs separates two fields and no
// field is empty; a blank line gives one empty field. With another separator the blanks around
// each field are removed and two separators in a row give an empty field. Only the first
// `max_fields` fields are kept, so a line of millions of fields costs no more than a short one.
void SplitFields(std::string_view line, char separator, std::vector<std::string_view>& fields,
                 std::size_t max_fields = static_cast<std::size_t>(-1));

// The system-wide number rule: blanks and tabs are skipped, the first comma counts as a decimal
// point, the longest leading decimal number is read (sign, digits, one point, an exponent
// introduced by E or D that counts only when digits follow) and rounded to the nearest double,
// then to the nearest single. Empty or non-numeric text, and a value beyond the single range,
// give 0.
float ParseNumber(std::string_view text);

// ParseNumber's rule by the general decimal conversion alone, without its shortcuts for the
// common fields: what those shortcuts are checked against.
float ParseNumberByConversion(std::string_view text);

// The strict conversion for ring-segment and die-attach numbers: the whole text must be
// [+-]?(digits[.digits]|.digits)([eE][+-]?digits)? and within the single range. Returns false
// (leaving `value` alone) otherwise.
bool ParseStrictNumber(std::string_view text, float& value);

// The "0.000" pattern: at least one integer digit, exactly three decimals, '.' as separator,
// rounding the exact binary value half away from zero; a value that rounds to zero is "0.000".
std::string FormatFixed3(double value);

// Appends FormatFixed3(value) to `out` without a temporary string.
void AppendFixed3(std::string& out, double value);

// Appends FormatFixed3(value) right-aligned in `width` characters (blanks before it); a longer
// text keeps its last `width` characters.
void AppendFixed3Field(std::string& out, double value, std::size_t width);
// The same `width` characters written at `out`; returns their end.
char* WriteFixed3Field(char* out, double value, std::size_t width);
// WriteFixed3Field(out, value, 12) for a single, the report's field.
char* WriteFixed3Field12(char* out, float value);

// |value| in whole thousandths, rounded half away from zero exactly as the "0.000" texts above
// round it; false when |value| is 1e12 or more (or NaN).
bool ExactThousandths(double value, std::uint64_t& thousandths);

// General form: `value` rounded half away from zero to at most `significant_digits` significant
// digits, written without exponent, with trailing zeros and a trailing point dropped.
std::string FormatGeneral(double value, int significant_digits);

// Upper-cases ASCII letters; other bytes pass unchanged.
std::string UpperAscii(std::string_view text);

// The text after the last '/' of `path` (all of it when it holds none; empty when it ends in one).
std::string FileNameOf(std::string_view path);

// `path` up to and including its last '/'. Throws StageError when it holds none.
std::string FolderOf(std::string_view path);

// What is at a path, symbolic links followed: nothing (or nothing the file system can tell
// of), a regular file, or something else (a directory, FIFO, device or socket), which is never
// read as a file: reading a FIFO or a device could wait or go on without end.
enum class FileKind { kMissing, kRegular, kOther };
FileKind KindOf(const std::string& path);

// True for a regular file (symbolic links followed), whatever its name, a name beginning with
// '.' included; false for anything else, and when the file system cannot tell.
bool FileExists(const std::string& path);

// `text` as the line readers take it, in `scratch` when it must change: a UTF-8 byte order mark
// at its start is skipped, and a text holding carriage returns but no line feed (lines ended by
// lone carriage returns) gets a line feed for each carriage return. Any other text is returned
// unchanged, so that it reads exactly as it always did.
std::string_view AsLineText(std::string_view text, std::string& scratch);

}  // namespace ostrel
