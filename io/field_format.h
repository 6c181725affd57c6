// SPDX-License-Identifier: GPL-3.0-or-later
// Fixed-width field formats for report lines, spreadsheet records and dialog
// boxes, plus the free-form ("list-directed") trace line. Every writer appends
// to a caller-owned std::string so a report can reuse one buffer per line.
//
// Rounding: a value is first turned into its shortest decimal form that reads
// back to the same double (std::to_chars), and that decimal is rounded to the
// field's digits, halves away from zero. So 12.345 gives 1.235E+01 and 9.9995
// gives 1.000E+01, as a user reading the numbers would expect, rather than the
// digits of the nearest binary fraction (12.3449999...).
//
// A value that does not fit its width (and NaN or infinity) is written as w
// asterisks. A negative value that rounds to zero is written without a sign.
//
// Exponents of three digits (|exponent| >= 100) keep the letter: 1.235E+100.
// Spreadsheet programs read that form as a number; the field is still w wide
// and overflows to asterisks only when the text really does not fit.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tavel::io {

// Iw: a whole number right-aligned in w characters.
void appendI(std::string& out, std::int64_t value, int w);

// Fw.d: fixed notation with d decimals, right-aligned in w characters. The
// zero before the point is left out when only that makes the field fit
// (-0.5 in F3.1 gives "-.5"); d = 0 keeps the point ("12.").
void appendF(std::string& out, double value, int w, int d);

// Ew.d with one digit before the point: 12.345 with (11,3) gives
// "  1.235E+01"; -0.004 gives " -4.000E-03"; zero gives "  0.000E+00".
// (7,1) is the OPTIONS box form of DelRsq: 1.0E-04.
void appendE(std::string& out, double value, int w, int d);

// Gw.d (used as G11.3): when the magnitude rounded to d significant digits is
// at least 0.1 and below 10**d, fixed notation with d significant digits in
// w-4 characters followed by 4 blanks (12.345 -> "   12.3    ", 999.4 ->
// "   999.    "); otherwise, zero included, exponent notation with a zero
// before the point and d digits after it, right-aligned in w (1234.5 ->
// "  0.123E+04", 0 -> "  0.000E+00").
void appendG(std::string& out, double value, int w, int d);

// The same E and G fields written at p for loops that build long lines:
// exactly w characters, returns p + w.
char* putE(char* p, double value, int w, int d);
char* putG(char* p, double value, int w, int d);

// Aw: the first w characters of text; a shorter text is right-aligned.
void appendA(std::string& out, std::string_view text, int w);

// nX: n blanks.
void appendX(std::string& out, int n);

// Convenience forms returning the field alone.
std::string fieldI(std::int64_t value, int w);
std::string fieldF(double value, int w, int d);
std::string fieldE(double value, int w, int d);
std::string fieldG(double value, int w, int d);

// The OPTIONS dialog texts: NumTerm as I4, DelRsq as 1.0E-04 (E7.1 form).
std::string numTermText(int numTerm);
std::string delRsqText(double delRsq);

// Width of an integer in a free-form line: default integers of the common
// free-form output runtimes take 12 characters, right-aligned.
inline constexpr int kListIntegerWidth = 12;

// One item of a free-form line: a text written as it is, or an integer
// right-aligned in kListIntegerWidth characters.
class ListItem {
 public:
  ListItem(std::string_view text) : text_(text) {}           // NOLINT: implicit on purpose
  ListItem(const char* text) : text_(text) {}                // NOLINT
  ListItem(const std::string& text) : text_(text) {}         // NOLINT
  ListItem(int value) : isInteger_(true), value_(value) {}   // NOLINT
  ListItem(long value) : isInteger_(true), value_(value) {}  // NOLINT
  void appendTo(std::string& out) const;

 private:
  std::string_view text_;
  bool isInteger_ = false;
  std::int64_t value_ = 0;
};

// A free-form line: one blank, then the items one after the other.
// listLine({"numCol1=", 5}) == " numCol1=           5".
std::string listLine(std::initializer_list<ListItem> items);
void appendListLine(std::string& out, std::initializer_list<ListItem> items);

}  // namespace tavel::io
