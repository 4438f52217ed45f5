// Integer and float texts, decimal forms and the argument queues.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>

#include "format/convert.hpp"
#include "plugin/args.hpp"

using namespace tovarin;

namespace {

// What a conversion of text throws, or "converted".
template <class Convert>
std::string ErrorOf(Convert convert, const std::string& text) {
  try {
    convert(text);
  } catch (const ConvertError& e) {
    return e.what();
  }
  return "converted";
}
std::string IntegerError(const std::string& text) { return ErrorOf(IntegerText, text); }
std::string FloatError(const std::string& text) { return ErrorOf(FloatText, text); }

}  // namespace

TEST(IntegerText, AcceptsDecimalAndHexForms) {
  EXPECT_EQ(IntegerText("42"), 42);
  EXPECT_EQ(IntegerText("   -17"), -17);
  EXPECT_EQ(IntegerText("+8"), 8);
  EXPECT_EQ(IntegerText("$1F"), 31);
  EXPECT_EQ(IntegerText("x1f"), 31);
  EXPECT_EQ(IntegerText("X10"), 16);
  EXPECT_EQ(IntegerText("0x7FFFFFFF"), 2147483647);
  EXPECT_EQ(IntegerText("-0X10"), -16);
  EXPECT_EQ(IntegerText("-2147483648"), INT32_MIN);
  EXPECT_EQ(IntegerText("007"), 7);
}

TEST(IntegerText, RefusesWithTheExactMessage) {
  EXPECT_EQ(IntegerError("abc"), "'abc' is not a valid integer value");
  EXPECT_EQ(IntegerError(""), "'' is not a valid integer value");
  for (const char* bad : {"2147483648", "-2147483649", "$", "0x", "12 ", "1.5", "--1", " ", "0x80000000", "1e3"})
    EXPECT_EQ(IntegerError(bad), std::string("'") + bad + "' is not a valid integer value") << bad;
}

TEST(FloatText, ConvertsWithThePluginsSeparator) {
  SetDecimalSeparator(".");
  EXPECT_EQ(FloatText("0.5"), 0.5f);
  EXPECT_EQ(FloatText("-2.25e1"), -22.5f);
  EXPECT_EQ(FloatText("+.5"), 0.5f);
  EXPECT_EQ(FloatText("5."), 5.0f);
  EXPECT_EQ(FloatText("1E-3"), 0.001f);
  // Full precision first, then the nearest float: 0.1 is not 0.1f's double.
  EXPECT_EQ(FloatText("0.1"), 0.1f);
  EXPECT_EQ(FloatText("16777217"), 16777216.0f);
  EXPECT_EQ(FloatText("1e-50"), 0.0f);
  EXPECT_EQ(FloatText("-1e-400"), 0.0f);  // below any double: zero, not an error
  EXPECT_EQ(FloatText("5.e1"), 50.0f);
  EXPECT_EQ(FloatError("0,5"), "'0,5' is not a valid floating point value");

  SetDecimalSeparator(",");
  EXPECT_EQ(FloatText("0,5"), 0.5f);
  EXPECT_EQ(FloatError("0.5"), "'0.5' is not a valid floating point value");
  SetDecimalSeparator(".");
}

TEST(FloatText, RefusesMalformedAndOutOfRangeTexts) {
  SetDecimalSeparator(".");
  for (const char* bad :
       {"", "abc", ".", "e5", "1e", "1e+", "nan", "inf", "0x10", "1.5 ", "1.2.3", "- 1", " 1.5", "  -2", "\t1"})
    EXPECT_EQ(FloatError(bad), std::string("'") + bad + "' is not a valid floating point value") << bad;
}

TEST(FloatText, BeyondTheFloatRangeIsTheNearestFloatAnInfinity) {
  SetDecimalSeparator(".");
  // Rounded once, to the float: FLT_MAX up to half an ulp above it.
  EXPECT_EQ(FloatText("3.4028235e38"), FLT_MAX);
  EXPECT_EQ(FloatText("3.5e38"), INFINITY);
  EXPECT_EQ(FloatText("-1e39"), -INFINITY);
  EXPECT_EQ(FloatText("1e400"), INFINITY);  // beyond a double too
}

TEST(DecimalForms, UnsignedHasNoSignAndRoundingGoesToEven) {
  EXPECT_EQ(UnsignedDecimal(0), "0");
  EXPECT_EQ(UnsignedDecimal(0x80000000u), "2147483648");
  EXPECT_EQ(UnsignedDecimal(0xFFFFFFFFu), "4294967295");
  EXPECT_EQ(RoundEven64(2.5), 2);
  EXPECT_EQ(RoundEven64(3.5), 4);
  EXPECT_EQ(RoundEven64(2.6), 3);
  EXPECT_EQ(RoundEven64(-2.5), -2);
  // Whatever the rounding mode in force.
  for (const int mode : {FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    EXPECT_EQ(RoundEven64(2.5), 2) << mode;
    EXPECT_EQ(RoundEven64(1411.6), 1412) << mode;
    EXPECT_EQ(RoundEven64(-3.5), -4) << mode;
    EXPECT_EQ(RoundEven64(9.37), 9) << mode;
  }
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(RoundLow32(4294967296.0 + 7.0), 7u);
  EXPECT_EQ(RoundLow32(NAN), 0u);
  EXPECT_EQ(SignedDecimal(-3), "-3");
}

TEST(ArgumentQueues, PushShiftsAndElevenPushesDropTheFirst) {
  tovarin::ArgQueues q;
  for (int i = 1; i <= 11; ++i) q.PushFile(std::to_string(i).c_str());
  EXPECT_EQ(q.FileArg(0), "11");
  EXPECT_EQ(q.FileArg(9), "2");  // "1" has been moved out
  q.PushFile(nullptr);
  EXPECT_EQ(q.FileArg(0), "0");
  EXPECT_EQ(q.FileArg(1), "11");
  EXPECT_EQ(q.FileArg(10), "");

  q.PushData(5);
  q.PushData(-6);
  EXPECT_EQ(q.DataArg(0), -6);
  EXPECT_EQ(q.DataArg(1), 5);
  // The queues are independent.
  EXPECT_EQ(q.FileArg(0), "0");
}
