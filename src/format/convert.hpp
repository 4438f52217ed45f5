// Number conversions of the plug-in: queue texts to numbers, numbers to the
// decimal texts of query results.
//
// Integer text: optional leading spaces, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x" or "0x" (either case); the
// whole text is used and the value must fit a signed 32-bit integer.
// Float text: no spaces anywhere, an optional sign, digits with the
// plug-in's decimal separator, an optional exponent; converted at full
// precision, then rounded to the nearest 32-bit float: beyond the float
// range an infinity (which the operations' range checks then refuse).
// A text that does not convert throws ConvertError carrying the message the
// user is shown ("'%s' is not a valid integer value" or "... floating point
// value").
//
// The decimal separator is one setting for the whole plug-in: the user's
// locale's at load (read from the environment without touching the host's
// locale), "." once SetDecimalSeparator is called. Host thread only.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tovarin {

class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int32_t IntegerText(const std::string& text);
float FloatText(const std::string& text);

const std::string& DecimalSeparator();
void SetDecimalSeparator(std::string separator);

// Decimal forms of query results.
std::string UnsignedDecimal(uint32_t value);
std::string SignedDecimal(int64_t value);

// Round to the nearest whole number, halves to even; the result's low 32
// bits, or 0 when the value is not finite or beyond 64 bits.
uint32_t RoundLow32(double value);
// The same rounding as a signed 64-bit value (0 when not representable).
int64_t RoundEven64(double value);

}  // namespace tovarin
