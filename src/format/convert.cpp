#include "format/convert.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/platform.hpp"

namespace tovarin {
namespace {

// The user's decimal separator (the host's own locale setting is left alone).
std::string& Separator() {
  static std::string sep = platform::user_decimal_separator();
  return sep;
}

// Reads the separator at load, not at first use.
[[maybe_unused]] const bool kSeparatorAtLoad = (Separator(), true);

[[noreturn]] void FailInteger(const std::string& text) {
  throw ConvertError("'" + text + "' is not a valid integer value");
}
[[noreturn]] void FailFloat(const std::string& text) {
  throw ConvertError("'" + text + "' is not a valid floating point value");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal exponent of the first non-zero digit of a checked plain text
// ("-12.5e3" gives 4): the value's magnitude is at least 1 exactly when it is
// not negative. Very low for a text of zeros.
long LeadingExponent(const std::string& plain) {
  const size_t e = plain.find('e');
  const long exponent =
      e == std::string::npos ? 0 : std::clamp(std::strtol(plain.c_str() + e + 1, nullptr, 10), -100000L, 100000L);
  const size_t start = plain[0] == '+' || plain[0] == '-' ? 1 : 0;
  const size_t end = std::min(e, plain.size());
  const size_t point = std::min(plain.find('.'), end);
  long place = static_cast<long>(point - start);  // digits before the point
  for (size_t k = start; k < end; ++k) {
    if (!IsDigit(plain[k])) continue;
    --place;
    if (plain[k] != '0') return place + exponent;
  }
  return -1000000;
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const std::string& DecimalSeparator() { return Separator(); }
void SetDecimalSeparator(std::string separator) { Separator() = std::move(separator); }

int32_t IntegerText(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) FailInteger(text);
  // Magnitude limit: 2^31 - 1, or 2^31 for a negative value.
  const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
  uint64_t value = 0;
  for (; i < n; ++i) {
    int d = base == 16 ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (d < 0) FailInteger(text);
    value = value * base + d;
    if (value > limit) FailInteger(text);
  }
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
}

float FloatText(const std::string& text) {
  const std::string& sep = Separator();
  // Validate the shape and rewrite it with "." for a locale-free parse.
  std::string plain;
  // Unlike an integer text, a float text takes no leading spaces.
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) plain += text[i++];
  size_t digits = 0;
  while (i < n && IsDigit(text[i])) plain += text[i++], ++digits;
  if (!sep.empty() && text.compare(i, sep.size(), sep) == 0) {
    i += sep.size();
    plain += '.';
    while (i < n && IsDigit(text[i])) plain += text[i++], ++digits;
  }
  if (digits == 0) FailFloat(text);
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    size_t exp_digits = 0;
    while (i < n && IsDigit(text[i])) plain += text[i++], ++exp_digits;
    if (exp_digits == 0) FailFloat(text);
  }
  if (i != n) FailFloat(text);

  // from_chars: the decimal value rounded once, straight to the nearest
  // float (no double in between to round twice), independent of any locale,
  // the host's or the plug-in's separator. It takes no "+" sign and no "5."
  // without fraction digits.
  const char* first = plain.c_str();
  if (*first == '+') ++first;
  const char* last = plain.c_str() + plain.size();
  if (last[-1] == '.') --last;
  float value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    // Past the largest float the nearest is an infinity (which every range
    // check refuses); below the smallest, zero. Set here, not computed: an
    // overflow must not trap in a host that unmasks it.
    const bool huge = LeadingExponent(plain) >= 0;
    const float magnitude = huge ? std::numeric_limits<float>::infinity() : 0.0f;
    value = plain[0] == '-' ? -magnitude : magnitude;
  } else if (ec != std::errc() || end != last) {
    FailFloat(text);
  }
  return value;
}

std::string UnsignedDecimal(uint32_t value) { return std::to_string(value); }
std::string SignedDecimal(int64_t value) { return std::to_string(value); }

int64_t RoundEven64(double value) {
  if (!std::isfinite(value)) return 0;
  // By hand, so that no rounding mode a host may set changes the answer:
  // floor and the fraction below are exact.
  const double floor = std::floor(value);
  const double fraction = value - floor;
  const bool up = fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0);
  const double r = up ? floor + 1.0 : floor;
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return 0;
  return static_cast<int64_t>(r);
}

uint32_t RoundLow32(double value) { return static_cast<uint32_t>(static_cast<uint64_t>(RoundEven64(value))); }

}  // namespace tovarin
