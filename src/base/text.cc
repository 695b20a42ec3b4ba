#include "base/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "base/stage_error.h"

namespace ostrel {
namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view TrimBlanksAndTabs(std::string_view s) {
  while (!s.empty() && IsBlankOrTab(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrTab(s.back())) s.remove_suffix(1);
  return s;
}

// Converts decimal text already in the form [-]digits[.digits][e[-]digits] to the nearest double
// and then to the nearest single; false when out of the single range.
bool DecimalToSingle(std::string_view clean, float& value) {
  double d = 0.0;
  const auto [end, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), d);
  if (end != clean.data() + clean.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is beyond the single range.
    const std::size_t e = clean.find_first_of("eE");
    if (e == std::string_view::npos || clean.substr(e + 1).front() != '-') return false;
    value = 0.0f;
    return true;
  }
  if (ec != std::errc()) return false;
  const float single = static_cast<float>(d);
  if (std::isinf(single)) return false;
  value = single;
  return true;
}

// mantissa / 10^decimals (mantissa below 10^15, decimals at most 15) as a double that rounds
// to the same single as the double nearest the quotient, which the division gives. The product
// with the double nearest 10^-decimals is off the exact quotient by two roundings, the nearest
// double by one, each at most 2^-53 of the quotient: the two lie within 3 units in the last
// place (ulps) of the product, so they round to the same single unless the product lies within
// a few ulps of halfway between two singles; there, and only there, the division is made. A
// double rounds to a single by its 29 lowest mantissa bits, halfway when they are 2^28 (the
// quotient of such a text is 0 or a normal single; near a power of two, where the ulps
// change, both round to that power).
double PlainQuotient(std::uint64_t mantissa, int decimals) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  static constexpr double kInversePowersOfTen[] = {1e0,   1e-1,  1e-2,  1e-3, 1e-4,  1e-5,
                                                   1e-6,  1e-7,  1e-8,  1e-9, 1e-10, 1e-11,
                                                   1e-12, 1e-13, 1e-14, 1e-15};
  const auto whole = static_cast<double>(mantissa);  // exact: below 2^53
  if (decimals == 0) return whole;
  const double product = whole * kInversePowersOfTen[decimals];
  std::uint64_t bits = 0;
  std::memcpy(&bits, &product, sizeof bits);
  constexpr std::uint64_t kHalfway = std::uint64_t{1} << 28;
  constexpr std::uint64_t kMargin = 16;  // ulps either side of halfway: 5 would do
  const std::uint64_t low = bits & ((kHalfway << 1) - 1);
  if (low - (kHalfway - kMargin) > 2 * kMargin) return product;  // unsigned: outside the window
  return whole / kPowersOfTen[decimals];
}

// The common case of a number field, [+-]digits[.digits] and nothing else with at most 15
// digits in all: the digits form an integer below 2^53 and the power of ten is exact, so one
// division gives the nearest double, exactly as the general conversion does. False for
// anything else.
bool ParsePlainDecimal(std::string_view text, float& value) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p == end) return false;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t mantissa = 0;
  const char* const int_start = p;
  while (p < end && IsDigit(*p)) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
  const auto int_digits = static_cast<int>(p - int_start);
  int decimals = 0;
  if (p < end && *p == '.' && int_digits > 0) {  // the point follows a digit
    const char* const fraction_start = ++p;
    while (p < end && IsDigit(*p)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p++ - '0');
    }
    decimals = static_cast<int>(p - fraction_start);
  }
  const int digits = int_digits + decimals;
  if (p != end || digits == 0 || digits > 15) return false;
  value = static_cast<float>(negative ? -PlainQuotient(mantissa, decimals)
                                      : PlainQuotient(mantissa, decimals));
  return true;
}

// The eight digit characters of `chars` (the first in the lowest byte) as a number, three
// products adding neighbouring digits, then pairs, then fours.
std::uint64_t EightDigits(std::uint64_t chars) {
  chars = ((chars & 0x0F0F0F0F0F0F0F0F) * 2561) >> 8;
  chars = ((chars & 0x00FF00FF00FF00FF) * 6553601) >> 16;
  return ((chars & 0x0000FFFF0000FFFF) * 42949672960001) >> 32;
}

// True when each of the eight bytes of `chars` is a digit character.
bool AllDigits(std::uint64_t chars) {
  // Per byte: above '9' sets the top bit of the sum, below '0' that of the difference. The
  // lowest byte that is no digit gets no carry or borrow from the digits below it.
  return (((chars + 0x4646464646464646) | (chars - 0x3030303030303030)) & 0x8080808080808080) == 0;
}

// ParsePlainDecimal for a text of 8 to 17 bytes whose last 8 hold the point, with a digit
// after it: the last 8 bytes are read as one word, the point taken out of it and a '0' put in
// front, and its 8 digits added up by EightDigits; the bytes before them (a sign and at most 8
// digits) go one at a time. The same mantissa and decimals as ParsePlainDecimal's, hence the
// same value; false (for ParsePlainDecimal to decide) for any other text.
bool ParseEightByteTail(const char* p, std::size_t n, float& value) {
  std::uint64_t tail = 0;
  std::memcpy(&tail, p + n - 8, sizeof tail);
  unsigned point = 5;  // two decimals, the package's usual form: a point at byte 5
  std::uint64_t digits = ((tail & 0xFFFFFFFFFF) << 8) | (tail & 0xFFFF000000000000) | 0x30;
  if (((tail >> 40) & 0xFF) != '.') {
    // The first point of the word: the lowest zero byte of the word xor points (bytes above
    // the first zero byte may be marked wrongly, the lowest one never).
    const std::uint64_t x = tail ^ 0x2E2E2E2E2E2E2E2E;
    const std::uint64_t zeros = (x - 0x0101010101010101) & ~x & 0x8080808080808080;
    if (zeros == 0) return false;
    point = static_cast<unsigned>(std::countr_zero(zeros)) / 8;  // byte 0 to 7
    if (point == 7) return false;                                // no digit after the point
    const std::uint64_t below = (std::uint64_t{1} << (8 * point)) - 1;
    digits = ((tail & below) << 8) | (tail & ~((below << 8) | 0xFF)) | 0x30;
  }
  // With a point at byte 5, any other point is among the digits and fails here.
  if (!AllDigits(digits)) return false;
  const char* q = p;
  const char* const head_end = p + n - 8;
  bool negative = false;
  if (q != head_end && (*q == '-' || *q == '+')) negative = *q++ == '-';
  const auto head_digits = static_cast<unsigned>(head_end - q);
  if (head_digits + point == 0 || head_digits > 8) return false;  // a digit before the point
  std::uint64_t head = 0;
  for (; q != head_end; ++q) {
    const auto d = static_cast<unsigned>(static_cast<unsigned char>(*q)) - '0';
    if (d > 9) return false;
    head = head * 10 + d;
  }
  const std::uint64_t mantissa = head * 10'000'000 + EightDigits(digits);
  const int decimals = 7 - static_cast<int>(point);
  value = static_cast<float>(negative ? -PlainQuotient(mantissa, decimals)
                                      : PlainQuotient(mantissa, decimals));
  return true;
}

// Writes the general form from an exact digit string: `digits` are the significant digits
// (first one non-zero) and `exponent` the power of ten of the first digit.
std::string GeneralFromDigits(bool negative, std::string digits, int exponent) {
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
  }
  const auto int_digits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_digits) {
    out += digits;
    out.append(int_digits - digits.size(), '0');
    return out;
  }
  out.append(digits, 0, int_digits);
  out += '.';
  out.append(digits, int_digits, std::string::npos);
  return out;
}

}  // namespace

bool LineReader::Next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const std::size_t lf = text_.find('\n', pos_);
  const std::size_t end = lf == std::string_view::npos ? text_.size() : lf;
  std::string_view raw = text_.substr(pos_, end - pos_);
  pos_ = lf == std::string_view::npos ? text_.size() : lf + 1;
  ++line_number_;
  const std::size_t cr = raw.find('\r');
  if (cr == std::string_view::npos) {
    line = raw;
    return true;
  }
  if (cr + 1 == raw.size()) {  // a CR LF line end: the line stays a view into the text
    line = raw.substr(0, cr);
    return true;
  }
  scratch_.clear();
  for (char c : raw) {
    if (c != '\r') scratch_ += c;
  }
  line = scratch_;
  return true;
}

void SplitFields(std::string_view line, char separator, std::vector<std::string_view>& fields,
                 std::size_t max_fields) {
  fields.clear();
  if (max_fields == 0) return;
  if (separator == ' ') {
    // Tabs count as blanks, so runs of either separate fields and no field is empty.
    std::string_view s = TrimBlanksAndTabs(line);
    if (s.empty()) {
      fields.emplace_back();
      return;
    }
    while (!s.empty() && fields.size() < max_fields) {
      std::size_t p = 0;
      while (p < s.size() && !IsBlankOrTab(s[p])) ++p;
      fields.push_back(s.substr(0, p));
      while (p < s.size() && IsBlankOrTab(s[p])) ++p;
      s.remove_prefix(p);
    }
    return;
  }
  // Another separator: tabs stand for blanks unless the tab is the separator, and blanks around
  // each field are removed. A trailing separator leaves a trailing empty field.
  const bool tabs_are_blanks = separator != '\t';
  auto trim = [tabs_are_blanks](std::string_view v) {
    return tabs_are_blanks ? TrimBlanksAndTabs(v) : TrimBlanks(v);
  };
  std::string_view s = trim(line);
  fields.emplace_back();
  while (!s.empty()) {
    const std::size_t p = s.find(separator);
    if (p == std::string_view::npos) {
      fields.back() = s;
      return;
    }
    fields.back() = trim(s.substr(0, p));
    if (fields.size() == max_fields) return;
    fields.emplace_back();
    s = trim(s.substr(p + 1));
  }
}

namespace {

// ParseNumber for text that is not a plain decimal; kept out of line, so that the plain path
// sets up no more than it needs.
[[gnu::noinline]] float ParseGeneralNumber(std::string_view text) {
  // Gathers the numeric prefix, without blanks, into a clean form for the conversion.
  std::string clean;
  std::size_t i = 0;
  bool comma_seen = false;
  auto skip_blanks = [&] {
    while (i < text.size() && IsBlankOrTab(text[i])) ++i;
  };
  auto is_point = [&](char c) {
    if (c == '.') return true;
    if (c == ',' && !comma_seen) return true;
    return false;
  };
  skip_blanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') clean += '-';
    ++i;
  }
  bool mantissa_digit = false;
  bool point_seen = false;
  while (true) {
    skip_blanks();
    if (i >= text.size()) break;
    const char c = text[i];
    if (IsDigit(c)) {
      clean += c;
      mantissa_digit = true;
    } else if (!point_seen && is_point(c)) {
      if (c == ',') comma_seen = true;
      clean += '.';
      point_seen = true;
    } else {
      break;
    }
    ++i;
  }
  if (!mantissa_digit) return 0.0f;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    auto skip = [&] {
      while (j < text.size() && IsBlankOrTab(text[j])) ++j;
    };
    skip();
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      if (text[j] == '-') exponent += '-';
      ++j;
    }
    bool exponent_digit = false;
    while (true) {
      skip();
      if (j >= text.size() || !IsDigit(text[j])) break;
      exponent += text[j];
      exponent_digit = true;
      ++j;
    }
    if (exponent_digit) clean += exponent;
  }
  if (clean.back() == '.') clean.pop_back();  // "5." reads as 5
  float value = 0.0f;
  return DecimalToSingle(clean, value) ? value : 0.0f;
}

// ParseNumber for the texts its shortcuts leave: out of line, so that the shortcuts need no
// registers saved.
[[gnu::noinline]] float ParseOtherNumber(std::string_view text) {
  float plain = 0.0f;
  if (ParsePlainDecimal(text, plain)) return plain;
  return ParseGeneralNumber(text);
}

}  // namespace

float ParseNumber(std::string_view text) {
  const char* const p = text.data();
  const std::size_t n = text.size();
  float plain = 0.0f;
  // The package's common fields: whole numbers of one to three digits, and numbers of 8 bytes
  // or more with a point among their last 8.
  if (n - 1 < 3) {
    const auto d0 = static_cast<unsigned>(static_cast<unsigned char>(p[0])) - '0';
    const auto d1 = n > 1 ? static_cast<unsigned>(static_cast<unsigned char>(p[1])) - '0' : 0;
    const auto d2 = n > 2 ? static_cast<unsigned>(static_cast<unsigned char>(p[2])) - '0' : 0;
    if ((d0 | d1 | d2) <= 9) {
      const unsigned whole = n == 1 ? d0 : n == 2 ? d0 * 10 + d1 : (d0 * 10 + d1) * 10 + d2;
      return static_cast<float>(whole);  // exact
    }
  } else if (n - 8 < 10 && ParseEightByteTail(p, n, plain)) {
    return plain;
  }
  return ParseOtherNumber(text);
}

float ParseNumberByConversion(std::string_view text) { return ParseGeneralNumber(text); }

bool ParseStrictNumber(std::string_view text, float& value) {
  std::size_t i = 0;
  std::string clean;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') clean += '-';
    ++i;
  }
  const std::size_t int_start = i;
  while (i < text.size() && IsDigit(text[i])) clean += text[i++];
  const bool int_digits = i > int_start;
  bool frac_digits = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    const std::size_t frac_start = i;
    std::string frac;
    while (i < text.size() && IsDigit(text[i])) frac += text[i++];
    frac_digits = i > frac_start;
    if (frac_digits) clean += (int_digits ? "." : "0.") + frac;
  }
  if (!int_digits && !frac_digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    clean += 'e';
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      if (text[i] == '-') clean += '-';
      ++i;
    }
    const std::size_t exp_start = i;
    while (i < text.size() && IsDigit(text[i])) clean += text[i++];
    if (i == exp_start) return false;
  }
  if (i != text.size()) return false;
  return DecimalToSingle(clean, value);
}

// The value in thousandths, rounded half away from zero, when |value| < 1e12: value is
// M 2^e with an integer M below 2^53, so value x 1000 = M x 1000 / 2^-e is rounded with integer
// arithmetic (M x 1000 < 2^63). False when the value is out of that range (or NaN).
bool ExactThousandths(double value, std::uint64_t& thousandths) {
  const double magnitude = std::fabs(value);
  if (!(magnitude < 1e12)) return false;  // also NaN
  // The binary fields of the double: magnitude = mantissa / 2^shift.
  std::uint64_t bits = 0;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const auto biased_exponent = static_cast<int>(bits >> 52);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int shift = 1074;  // subnormal
  if (biased_exponent != 0) {
    mantissa |= std::uint64_t{1} << 52;
    shift = 1075 - biased_exponent;
  }
  thousandths = 0;
  if (shift <= 0) {
    thousandths = (mantissa << -shift) * 1000;
  } else if (shift < 64) {
    const std::uint64_t scaled = mantissa * 1000;
    thousandths = scaled >> shift;
    const std::uint64_t rest = scaled - (thousandths << shift);
    if (rest >= (std::uint64_t{1} << (shift - 1))) ++thousandths;
  }  // else: below 2^-11, rounds to 0
  return true;
}

namespace {

// Writes the "0.000" text of a value given in thousandths so that it ends just before `end`;
// returns its first character.
char* WriteThousandthsBackwards(char* end, bool negative, std::uint64_t thousandths) {
  // "00" to "99": whole numbers are written two digits at a time.
  static constexpr auto kPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
      pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
      pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
  }();
  char* p = end;
  std::uint64_t whole = thousandths / 1000;
  const auto fraction = static_cast<std::size_t>(thousandths % 1000);
  p -= 3;
  p[0] = static_cast<char>('0' + fraction / 100);
  std::memcpy(p + 1, &kPairs[2 * (fraction % 100)], 2);
  *--p = '.';
  while (whole >= 100) {
    p -= 2;
    std::memcpy(p, &kPairs[2 * (whole % 100)], 2);
    whole /= 100;
  }
  if (whole >= 10) {
    p -= 2;
    std::memcpy(p, &kPairs[2 * whole], 2);
  } else {
    *--p = static_cast<char>('0' + whole);
  }
  if (negative && thousandths != 0) *--p = '-';
  return p;
}

// The "0.000" text of `value` when |value| < 1e12, exact (see ExactThousandths). Returns the
// end of the text in `buf`, or nullptr when the value is out of that range.
char* WriteFixed3Exact(char* buf, double value) {
  std::uint64_t thousandths = 0;
  if (!ExactThousandths(value, thousandths)) return nullptr;
  char digits[32];
  char* const end = digits + sizeof digits;
  const char* const first = WriteThousandthsBackwards(end, value < 0, thousandths);
  const auto length = static_cast<std::size_t>(end - first);
  std::memcpy(buf, first, length);
  return buf + length;
}

}  // namespace

char* WriteFixed3Field(char* out, double value, std::size_t width) {
  std::uint64_t thousandths = 0;
  char field[24];
  if (width <= sizeof field && ExactThousandths(value, thousandths)) {
    if (width == 12 && thousandths < 10'000'000'000) {
      // The report's fields: at most 7 whole digits, a sign, the point and three decimals fit
      // the 12 characters, so the digits are written backwards straight into the field after
      // its blanks. (Read back from a scratch row in one wide load, the bytes just written
      // one or two at a time would stall the load.)
      std::memset(out, ' ', 12);
      WriteThousandthsBackwards(out + 12, value < 0, thousandths);
      return out + 12;
    }
    // The digits written backwards from the end of a row of blanks, whose last `width`
    // characters are the field.
    std::memset(field, ' ', sizeof field);
    WriteThousandthsBackwards(field + sizeof field, value < 0, thousandths);
    std::memcpy(out, field + (sizeof field - width), width);
    return out + width;
  }
  std::string general;
  AppendFixed3(general, value);
  if (general.size() >= width) {
    std::memcpy(out, general.data() + (general.size() - width), width);
  } else {
    std::memset(out, ' ', width - general.size());
    std::memcpy(out + (width - general.size()), general.data(), general.size());
  }
  return out + width;
}

// A single times 1000 is exact in double (24 and 7 significant bits), and so is a half added to
// it below 2^34 (or the sum lies below 0.75): the whole part of the sum is the value in
// thousandths rounded half away from zero, as ExactThousandths finds it with integers.
char* WriteFixed3Field12(char* out, float value) {
  const double half_up = std::fabs(static_cast<double>(value)) * 1000.0 + 0.5;
  if (!(half_up < 1e10)) return WriteFixed3Field(out, value, 12);  // also NaN
  std::memset(out, ' ', 12);
  WriteThousandthsBackwards(out + 12, value < 0, static_cast<std::uint64_t>(half_up));
  return out + 12;
}

void AppendFixed3Field(std::string& out, double value, std::size_t width) {
  const std::size_t at = out.size();
  out.resize(at + width);
  WriteFixed3Field(out.data() + at, value, width);
}

void AppendFixed3(std::string& out, double value) {
  char buf[400];
  if (char* end = WriteFixed3Exact(buf, value)) {
    out.append(buf, static_cast<std::size_t>(end - buf));
    return;
  }
  char* end = nullptr;
  const double sixteenths = value * 16.0;
  if (std::isfinite(value) && std::abs(value) < 1e12 && sixteenths == std::trunc(sixteenths) &&
      std::fmod(sixteenths, 2.0) != 0.0) {
    // An odd number of sixteenths is exactly halfway between two thousandths; such a tie rounds
    // away from zero. |value| * 1000 + 0.5 is then an exact whole number.
    const auto thousandths = static_cast<std::uint64_t>(std::abs(value) * 1000.0 + 0.5);
    const int n = std::snprintf(buf, sizeof buf, "%s%llu.%03llu", value < 0 ? "-" : "",
                                static_cast<unsigned long long>(thousandths / 1000),
                                static_cast<unsigned long long>(thousandths % 1000));
    end = buf + n;
  } else {
    end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3).ptr;
  }
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  if (text == "-0.000") text = "0.000";
  out.append(text);
}

std::string FormatFixed3(double value) {
  std::string out;
  AppendFixed3(out, value);
  return out;
}

std::string FormatGeneral(double value, int significant_digits) {
  if (value == 0.0 || !std::isfinite(value)) return "0";
  // The exact decimal expansion of a double has fewer than 800 significant digits, so rounding
  // from it is exact: the next digit 5 or more rounds away from zero.
  std::string buf(1100, '\0');
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::abs(value),
                                 std::chars_format::scientific, 800);
  const std::string_view sci(buf.data(), static_cast<std::size_t>(res.ptr - buf.data()));
  const std::size_t e_pos = sci.find('e');
  std::string all;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') all += c;
  }
  int exponent = std::stoi(std::string(sci.substr(e_pos + 1)));
  const auto keep = static_cast<std::size_t>(significant_digits);
  std::string digits = all.substr(0, keep);
  if (all[keep] >= '5') {
    std::size_t k = digits.size();
    while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
    if (k == 0) {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    } else {
      ++digits[k - 1];
    }
  }
  return GeneralFromDigits(value < 0, digits, exponent);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    throw StageError("the path '" + std::string(path) + "' names no folder");
  }
  return std::string(path.substr(0, slash + 1));
}

FileKind KindOf(const std::string& path) {
  if (path.empty()) return FileKind::kMissing;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return FileKind::kMissing;
  return std::filesystem::is_regular_file(status) ? FileKind::kRegular : FileKind::kOther;
}

bool FileExists(const std::string& path) { return KindOf(path) == FileKind::kRegular; }

std::string_view AsLineText(std::string_view text, std::string& scratch) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  if (text.find('\n') != std::string_view::npos || text.find('\r') == std::string_view::npos) {
    return text;
  }
  scratch.assign(text);
  std::replace(scratch.begin(), scratch.end(), '\r', '\n');
  return scratch;
}

}  // namespace ostrel
