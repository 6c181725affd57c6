// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/field_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace tavel::io {
namespace {

TEST(FieldFormatTest, GeneralFormChoosesFixedOrExponentByRoundedMagnitude) {
  // Fixed: 7 characters, then 4 blanks.
  EXPECT_EQ(fieldG(12.345, 11, 3), "   12.3    ");
  EXPECT_EQ(fieldG(0.1, 11, 3), "  0.100    ");
  EXPECT_EQ(fieldG(0.123456, 11, 3), "  0.123    ");
  EXPECT_EQ(fieldG(1.0, 11, 3), "   1.00    ");
  EXPECT_EQ(fieldG(999.4, 11, 3), "   999.    ");
  EXPECT_EQ(fieldG(99.96, 11, 3), "   100.    ");  // rounds up a decade, still fixed
  EXPECT_EQ(fieldG(9.996, 11, 3), "   10.0    ");
  // 0.09995 rounds to 0.100: the rounded value decides, so fixed form.
  EXPECT_EQ(fieldG(0.09995, 11, 3), "  0.100    ");
  EXPECT_EQ(fieldG(0.09994, 11, 3), "  0.999E-01");
  // 999.5 rounds to 1000: exponent form.
  EXPECT_EQ(fieldG(999.5, 11, 3), "  0.100E+04");
  EXPECT_EQ(fieldG(1234.5, 11, 3), "  0.123E+04");
  EXPECT_EQ(fieldG(0.0123456, 11, 3), "  0.123E-01");
  EXPECT_EQ(fieldG(1.0e-5, 11, 3), "  0.100E-04");
}

TEST(FieldFormatTest, GeneralFormZeroAndNegatives) {
  EXPECT_EQ(fieldG(0.0, 11, 3), "  0.000E+00");
  EXPECT_EQ(fieldG(-0.0, 11, 3), "  0.000E+00");
  EXPECT_EQ(fieldG(-12.345, 11, 3), "  -12.3    ");
  EXPECT_EQ(fieldG(-0.1, 11, 3), " -0.100    ");
  EXPECT_EQ(fieldG(-999.5, 11, 3), " -0.100E+04");
  EXPECT_EQ(fieldG(-0.05, 11, 3), " -0.500E-01");
  EXPECT_EQ(fieldG(-1.0e100, 11, 3), "-0.100E+101");
  EXPECT_EQ(fieldG(std::numeric_limits<double>::quiet_NaN(), 11, 3), "***********");
}

TEST(FieldFormatTest, ExponentFormOneDigitBeforePoint) {
  EXPECT_EQ(fieldE(12.345, 11, 3), "  1.235E+01");
  EXPECT_EQ(fieldE(-0.004, 11, 3), " -4.000E-03");
  EXPECT_EQ(fieldE(12.345, 15, 5), "    1.23450E+01");
  EXPECT_EQ(fieldE(0.0, 11, 3), "  0.000E+00");
  EXPECT_EQ(fieldE(-0.0, 15, 5), "    0.00000E+00");
  // The carry moves the exponent.
  EXPECT_EQ(fieldE(9.9995, 11, 3), "  1.000E+01");
  EXPECT_EQ(fieldE(-9.9995, 11, 3), " -1.000E+01");
  EXPECT_EQ(fieldE(9.99949, 11, 3), "  9.999E+00");
  EXPECT_EQ(fieldE(1.0, 15, 5), "    1.00000E+00");
  EXPECT_EQ(fieldE(-1.0e-300, 11, 3), "-1.000E-300");
  EXPECT_EQ(fieldE(1.5e200, 15, 5), "   1.50000E+200");
  EXPECT_EQ(fieldE(std::numeric_limits<double>::infinity(), 11, 3), "***********");
}

// An independent reading of the rounding rule: the shortest decimal digits
// of the value, rounded as a decimal string, halves away from zero. Gives
// sig digits and the exponent of the first one (value = d.ddd * 10^exp).
std::string roundedShortest(double v, int sig, int& exponent) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific);
  const std::string s(buf, r.ptr);
  const auto e = s.find('e');
  exponent = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + (e > 1 ? s.substr(2, e - 2) : "");
  if (digits.size() < static_cast<size_t>(sig + 1)) digits.resize(sig + 1, '0');
  const bool up = digits[sig] >= '5';
  digits.resize(sig);
  if (up) {
    int i = sig - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i < 0) {
      digits = "1" + digits.substr(0, sig - 1);
      ++exponent;
    } else {
      ++digits[i];
    }
  }
  return digits;
}

std::string exponentText(int exponent) {
  const int a = std::abs(exponent);
  return std::string("E") + (exponent < 0 ? "-" : "+") + (a >= 100 ? std::to_string(a / 100) : "") +
         static_cast<char>('0' + a / 10 % 10) + static_cast<char>('0' + a % 10);
}

std::string padded(const std::string& text, size_t w) {
  return text.size() > w ? std::string(w, '*') : std::string(w - text.size(), ' ') + text;
}

std::string referenceE(double v, int w, int d) {
  int exponent = 0;
  const std::string digits = roundedShortest(v, d + 1, exponent);
  return padded(
      std::string(v < 0 ? "-" : "") + digits[0] + "." + digits.substr(1) + exponentText(exponent),
      w);
}

// Gw.d for a value that is not zero. The zero before the point of a fixed
// 0.ddd goes when only that makes the text fit.
std::string referenceG(double v, int w = 11, int d = 3) {
  int exponent = 0;
  const std::string digits = roundedShortest(v, d, exponent);
  const std::string sign = v < 0 ? "-" : "";
  if (exponent >= -1 && exponent < d) {
    std::string fixed = exponent == -1
                            ? "0." + digits
                            : digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
    if (exponent == -1 && static_cast<int>(sign.size() + fixed.size()) > w - 4) fixed.erase(0, 1);
    return padded(sign + fixed, static_cast<size_t>(w - 4)) + "    ";
  }
  return padded(sign + "0." + digits + exponentText(exponent + 1), static_cast<size_t>(w));
}

TEST(FieldFormatTest, ExponentAndGeneralFormsAgreeWithDecimalRoundingEverywhere) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> power(-8, 8);
  std::uniform_int_distribution<int> widePower(-40, 40);
  std::uniform_int_distribution<long> shortDigits(-9999999, 9999999);
  for (int k = 0; k < 200000; ++k) {
    // Arbitrary doubles, and short decimals whose last digit is often a
    // half at the rounding position (1.234565, 0.0123455, ...).
    const double v =
        k % 2 == 0 ? mantissa(rng) * std::pow(10.0, power(rng))
                   : static_cast<double>(shortDigits(rng)) * std::pow(10.0, widePower(rng) / 4 - 5);
    if (v == 0.0) continue;
    ASSERT_EQ(fieldE(v, 15, 5), referenceE(v, 15, 5)) << v;
    ASSERT_EQ(fieldE(v, 11, 3), referenceE(v, 11, 3)) << v;
    ASSERT_EQ(fieldG(v, 11, 3), referenceG(v)) << v;
  }
  for (double v : {1.234565, 0.0123455, 999999.5, 99999.95, 1.0e22, 1.0e23, 5e-324, 1.7e308}) {
    EXPECT_EQ(fieldE(v, 15, 5), referenceE(v, 15, 5)) << v;
    EXPECT_EQ(fieldE(-v, 11, 3), referenceE(-v, 11, 3)) << v;
  }
}

// Every width and number of digits, not only the report's: the sign's
// place, padding up to and past 8 blanks, fields that just fit and fields
// one short, and the two-to-three digit exponent step.
TEST(FieldFormatTest, ExponentAndGeneralFormsAtEveryWidthMatchDecimalRounding) {
  std::mt19937_64 rng(99);
  std::uniform_int_distribution<long> digits(-9999999, 9999999);
  std::uniform_int_distribution<int> power(-110, 110);
  for (int k = 0; k < 20000; ++k) {
    const double v = static_cast<double>(digits(rng)) * std::pow(10.0, power(rng) - 3);
    if (v == 0.0 || !std::isfinite(v)) continue;
    for (int d = 0; d <= 7; ++d) {
      for (int w = d + 5; w <= 19; ++w) {
        ASSERT_EQ(fieldE(v, w, d), referenceE(v, w, d)) << v << " E" << w << "." << d;
        if (d > 0) {
          ASSERT_EQ(fieldG(v, w, d), referenceG(v, w, d)) << v << " G" << w << "." << d;
        }
      }
    }
  }
}

TEST(FieldFormatTest, FieldEdges) {
  // A field exactly as long as the text: no room for a sign.
  EXPECT_EQ(fieldE(1.5, 9, 3), "1.500E+00");
  EXPECT_EQ(fieldE(-1.5, 9, 3), "*********");
  EXPECT_EQ(fieldE(-1.5, 10, 3), "-1.500E+00");
  // Nine blanks and more before the text.
  EXPECT_EQ(fieldE(-2.5, 20, 3), "          -2.500E+00");
  EXPECT_EQ(fieldE(2.5, 18, 3), "         2.500E+00");
  // Rounding up across the exponent's second digit, both ways.
  EXPECT_EQ(fieldE(9.9995e99, 11, 3), " 1.000E+100");
  EXPECT_EQ(fieldE(9.9994e99, 11, 3), "  9.999E+99");
  EXPECT_EQ(fieldE(9.99951e-100, 11, 3), "  1.000E-99");
  EXPECT_EQ(fieldE(-9.99949e-100, 11, 3), "-9.999E-100");
  EXPECT_EQ(fieldG(1.234e98, 11, 3), "  0.123E+99");
  EXPECT_EQ(fieldG(-1.234e99, 11, 3), "-0.123E+100");
  EXPECT_EQ(fieldG(9.9951e-101, 11, 3), "  0.100E-99");
  // G with one and with seven significant digits, and wider than 11.
  EXPECT_EQ(fieldG(5.0, 8, 1), "  5.    ");
  EXPECT_EQ(fieldG(-0.25, 8, 1), "-0.3    ");
  EXPECT_EQ(fieldG(25.0, 8, 1), " 0.3E+02");
  EXPECT_EQ(fieldG(1234567.4, 14, 7), "  1234567.    ");
  EXPECT_EQ(fieldG(-12.345, 16, 3), "       -12.3    ");
  EXPECT_EQ(fieldG(-0.0, 16, 3), "       0.000E+00");
  // The in-place writers fill exactly w characters.
  char buf[20];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(putE(buf + 1, -1.0, 11, 3), buf + 12);
  EXPECT_EQ(std::string(buf, 13), "# -1.000E+00#");
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(putG(buf + 1, 0.5, 8, 1), buf + 9);
  EXPECT_EQ(std::string(buf, 10), "# 0.5    #");
}

TEST(FieldFormatTest, FixedForm) {
  EXPECT_EQ(fieldF(0.98765, 7, 4), " 0.9877");
  EXPECT_EQ(fieldF(1.0, 7, 4), " 1.0000");
  EXPECT_EQ(fieldF(-0.5, 7, 4), "-0.5000");
  EXPECT_EQ(fieldF(-0.00001, 7, 4), " 0.0000");  // no sign on a rounded zero
  EXPECT_EQ(fieldF(0.00005, 7, 4), " 0.0001");
  EXPECT_EQ(fieldF(12.25, 8, 1), "    12.3");
  EXPECT_EQ(fieldF(123.0, 5, 0), " 123.");
  EXPECT_EQ(fieldF(0.5, 3, 1), "0.5");
  EXPECT_EQ(fieldF(-0.5, 3, 1), "-.5");  // zero before the point dropped to fit
  EXPECT_EQ(fieldF(1234.5, 7, 4), "*******");
  EXPECT_EQ(fieldF(99.99996, 8, 4), "100.0000");
  EXPECT_EQ(fieldF(1e20, 8, 1), "********");
}

TEST(FieldFormatTest, IntegerTextAndBlanks) {
  EXPECT_EQ(fieldI(2, 4), "   2");
  EXPECT_EQ(fieldI(-12, 4), " -12");
  EXPECT_EQ(fieldI(12345, 4), "****");
  EXPECT_EQ(fieldI(1000000, 5), "*****");
  EXPECT_EQ(fieldI(0, 11), "          0");

  std::string s;
  appendA(s, "TEMPERATURE_OF_BATH" + std::string(31, ' '), 10);
  EXPECT_EQ(s, "TEMPERATUR");
  s.clear();
  appendA(s, "AB", 4);
  EXPECT_EQ(s, "  AB");
  appendX(s, 3);
  EXPECT_EQ(s, "  AB   ");
}

TEST(FieldFormatTest, OptionsBoxTexts) {
  EXPECT_EQ(numTermText(2), "   2");
  EXPECT_EQ(delRsqText(static_cast<double>(1.0e-4f)), "1.0E-04");
  EXPECT_EQ(delRsqText(0.00123), "1.2E-03");
  EXPECT_EQ(delRsqText(0.005), "5.0E-03");
  EXPECT_EQ(delRsqText(9.96e-3), "1.0E-02");
  EXPECT_EQ(delRsqText(-1.0e-4), "*******");
}

TEST(FieldFormatTest, FreeFormLine) {
  EXPECT_EQ(listLine({"last = first, sorry"}), " last = first, sorry");
  EXPECT_EQ(listLine({"numCol1=", 5, "   numCol=", 7}),
            " numCol1=           5   numCol=           7");
  EXPECT_EQ(listLine({3, " ", std::string("X")}), "            3 X");
  EXPECT_EQ(listLine({-1234567890123L}), " -1234567890123");
}

}  // namespace
}  // namespace tavel::io
