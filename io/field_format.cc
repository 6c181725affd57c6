// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/field_format.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tavel::io {
namespace {

// A finite value as decimal digits: |value| = 0.d1 d2 ... dn * 10^exp, with
// d1 != 0 unless the value is zero (then n = 0).
struct Decimal {
  std::array<char, 40> digits;  // only the first n are meaningful
  int n = 0;
  int exp = 0;
  bool negative = false;
};

Decimal toDecimal(double value) {
  Decimal dec;
  dec.negative = std::signbit(value);
  double magnitude = std::fabs(value);
  if (magnitude == 0.0) return dec;
  // Shortest digits that read back to the same double.
  char buf[40];
  auto result = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  const char* p = buf;
  const char* end = result.ptr;
  while (p < end && *p != 'e') {
    if (*p != '.') dec.digits[dec.n++] = *p;
    ++p;
  }
  int sciExp = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, sciExp);
  dec.exp = sciExp + 1;
  while (dec.n > 0 && dec.digits[dec.n - 1] == '0') --dec.n;
  return dec;
}

// Keeps the first `keep` digits, rounding halves away from zero. keep may be
// zero or negative (the value lies wholly below the kept position).
void roundTo(Decimal& dec, int keep) {
  if (dec.n == 0 || keep >= dec.n) return;
  if (keep < 0) {
    dec.n = 0;
    return;
  }
  bool up = dec.digits[keep] >= '5';
  dec.n = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && dec.digits[i] == '9') --i;
    if (i < 0) {
      // 0.999.. -> 1.0: one digit "1", one decade higher.
      dec.digits[0] = '1';
      dec.n = 1;
      dec.exp += 1;
      return;
    }
    dec.digits[i] += 1;
    dec.n = i + 1;
  }
  while (dec.n > 0 && dec.digits[dec.n - 1] == '0') --dec.n;
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxPow10 = 22;
// The doubles nearest to 10^k for k = -22..22, at kScale[k + 22]: one load
// whatever the sign of k, so the scaling takes no branch.
constexpr double kScale[] = {1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14,
                             1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,
                             1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,
                             1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,
                             1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22};
constexpr std::int64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// Fast route to the digits that toDecimal + roundTo give for up to 7
// significant digits. The value is scaled by a power of ten in one or two
// roundings (relative error below 2^-52, so an absolute error below 3e-9 on
// a scaled value under 10^7), and the rounding is trusted only when the
// scaled value lies clearly away from a half; otherwise the exact route
// decides. On success mantissa has exactly sig digits and e10 is the
// decimal exponent of its first digit. Inline and free of data-dependent
// branches on the common route: report columns of random values would
// otherwise mispredict at every field.
inline bool fastMantissa(double magnitude, int sig, std::int64_t& mantissa, int& e10) {
  if (sig < 1 || sig > 7) return false;
  const auto biased = static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7ff;
  if (biased == 0 || biased == 0x7ff) return false;  // subnormal, or not finite
  // floor(log10(2^b)) for magnitude in [2^b, 2^(b+1)): the decimal exponent
  // or one below it.
  const int estimate = ((biased - 1023) * 78913) >> 18;
  const int q = sig - 1 - estimate;
  if (q > kMaxPow10 || q - 1 < -kMaxPow10) return false;
  // One power further when the estimate was one short: chosen by index, as
  // a choice between two products becomes a branch that random values
  // mispredict half the time.
  const int above = static_cast<int>(magnitude * kScale[q + kMaxPow10] >= kPow10[sig]);
  const double scaled = magnitude * kScale[q - above + kMaxPow10];
  e10 = estimate + above;
  if (scaled >= kPow10[sig] || scaled < kPow10[sig - 1]) return false;
  // scaled is positive and below 10^7: truncation is the floor.
  mantissa = static_cast<std::int64_t>(scaled);
  const double fraction = scaled - static_cast<double>(mantissa);
  if (std::fabs(fraction - 0.5) < 1e-7) return false;
  mantissa += static_cast<std::int64_t>(fraction > 0.5);
  if (mantissa >= kPow10Int[sig]) {
    mantissa = kPow10Int[sig - 1];
    ++e10;
  }
  return true;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the sig digits of mantissa into out[0..sig), two at a time
// (unrolled where sig is a constant).
inline void putMantissaDigits(char* out, std::int64_t mantissa, int sig) {
  int i = sig;
  while (i >= 2) {
    const std::int64_t q = mantissa / 100;
    const auto pair = static_cast<std::size_t>(mantissa - q * 100) * 2;
    out[i - 2] = kDigitPairs[pair];
    out[i - 1] = kDigitPairs[pair + 1];
    mantissa = q;
    i -= 2;
  }
  if (i == 1) out[0] = static_cast<char>('0' + mantissa);
}

// The same for a number of digits known here (Sig <= 8): the number is split
// in halves whose digits come out side by side, not one pair after another.
template <int Sig>
inline void putDigits(char* out, std::uint32_t m) {
  static_assert(Sig >= 1 && Sig <= 8);
  if constexpr (Sig == 1) {
    out[0] = static_cast<char>('0' + m);
  } else if constexpr (Sig == 2) {
    std::memcpy(out, kDigitPairs + 2 * m, 2);
  } else {
    constexpr int kLow = Sig >= 6 ? 4 : 2;
    constexpr std::uint32_t kSplit = kLow == 4 ? 10000 : 100;
    const std::uint32_t high = m / kSplit;
    putDigits<Sig - kLow>(out, high);
    putDigits<kLow>(out + (Sig - kLow), m - high * kSplit);
  }
}

// The magnitude rounded to sig (1..kMaxDigits) significant digits:
// digits[0..sig) and the decimal exponent of digits[0]. False for zero.
constexpr int kMaxDigits = 30;
bool roundedDigits(double magnitude, int sig, char* digits, int& e10) {
  if (magnitude == 0.0) return false;
  std::int64_t mantissa = 0;
  if (fastMantissa(magnitude, sig, mantissa, e10)) {
    putMantissaDigits(digits, mantissa, sig);
    return true;
  }
  Decimal dec = toDecimal(magnitude);
  roundTo(dec, sig);
  for (int i = 0; i < sig; ++i) digits[i] = i < dec.n ? dec.digits[i] : '0';
  e10 = dec.exp - 1;
  return true;
}

char digitAt(const Decimal& dec, int i) { return i >= 0 && i < dec.n ? dec.digits[i] : '0'; }

char* putStars(char* p, int w) {
  if (w <= 0) return p;
  std::memset(p, '*', static_cast<size_t>(w));
  return p + w;
}

// text right-aligned in w, or w asterisks when it does not fit.
char* putRightAligned(char* p, const char* text, int len, int w) {
  if (w <= 0) return p;
  if (len > w) return putStars(p, w);
  std::memset(p, ' ', static_cast<size_t>(w - len));
  std::memcpy(p + (w - len), text, static_cast<size_t>(len));
  return p + w;
}

void appendStars(std::string& out, int w) {
  if (w > 0) out.append(static_cast<size_t>(w), '*');
}

void appendRightAligned(std::string& out, const char* text, int len, int w) {
  if (w <= 0) return;
  const size_t old = out.size();
  out.resize(old + static_cast<size_t>(w));
  putRightAligned(out.data() + old, text, len, w);
}

// Fixed notation of an already decomposed value.
void appendFixed(std::string& out, Decimal dec, int w, int d) {
  roundTo(dec, dec.exp + d);
  char buf[400];
  int len = 0;
  if (dec.negative && dec.n > 0) buf[len++] = '-';
  const int intDigits = dec.n > 0 && dec.exp > 0 ? dec.exp : 0;
  if (intDigits + d + 3 > static_cast<int>(sizeof buf)) {
    appendStars(out, w);
    return;
  }
  const int zeroAt = len;
  if (intDigits == 0) {
    buf[len++] = '0';
  } else {
    for (int i = 0; i < intDigits; ++i) buf[len++] = digitAt(dec, i);
  }
  buf[len++] = '.';
  for (int k = 0; k < d; ++k) buf[len++] = dec.n > 0 ? digitAt(dec, dec.exp + k) : '0';
  if (len > w && intDigits == 0 && len - 1 <= w) {
    // Leave out the optional zero before the point.
    std::memmove(buf + zeroAt, buf + zeroAt + 1, static_cast<size_t>(len - zeroAt - 1));
    --len;
  }
  appendRightAligned(out, buf, len, w);
}

// Writes the exponent part: E, sign, two digits (three when needed).
int putExponent(char* buf, int exponent) {
  int len = 0;
  buf[len++] = 'E';
  buf[len++] = exponent < 0 ? '-' : '+';
  int a = std::abs(exponent);
  if (a >= 100) buf[len++] = static_cast<char>('0' + a / 100);
  buf[len++] = static_cast<char>('0' + (a / 10) % 10);
  buf[len++] = static_cast<char>('0' + a % 10);
  return len;
}

// The common fields are written straight into place: 8 blanks first (the
// padding, which is never longer), then the text over them, ending at the
// field's end. Built elsewhere and copied in, the field would be read back
// while its bytes are still being stored, which costs more than the rest.
constexpr int kMaxPad = 8;

inline void putPadding(char* p) { std::memcpy(p, "        ", kMaxPad); }

// "E+xx" at q for an exponent of two digits.
inline void putShortExponent(char* q, int exponent) {
  q[0] = 'E';
  q[1] = exponent < 0 ? '-' : '+';
  const int a = exponent < 0 ? -exponent : exponent;
  q[2] = kDigitPairs[2 * a];
  q[3] = kDigitPairs[2 * a + 1];
}

// The common E field with D decimals, written in place: a finite non-zero
// value whose digits the fast route decides, whose exponent has two digits,
// in a field with room for a sign. False when the general route must write
// it.
template <int D>
bool putCommonE(char* p, double value, int w) {
  constexpr int kText = D + 6;  // d.dddE+xx
  if (w < kText + 1 || w < kMaxPad || w - kText - 1 > kMaxPad) return false;
  const double magnitude = std::fabs(value);
  if (!(magnitude > 0.0)) return false;
  std::int64_t mantissa = 0;
  int e10 = 0;
  if (!fastMantissa(magnitude, D + 1, mantissa, e10) || e10 <= -100 || e10 >= 100) return false;
  putPadding(p);
  char* t = p + w - kText;
  t[-1] = value < 0 ? '-' : ' ';
  // All digits one place to the right, then the first one moved before the point.
  putDigits<D + 1>(t + 1, static_cast<std::uint32_t>(mantissa));
  t[0] = t[1];
  t[1] = '.';
  putShortExponent(t + D + 2, e10);
  return true;
}

// The common G field with D significant digits, written in place as
// putCommonE.
template <int D>
bool putCommonG(char* p, double value, int w) {
  // The longest text, -0.dddE+xx, fits, and so does the padding before the
  // shortest, ddd. and its 4 blanks.
  if (w < D + 7 || w < kMaxPad || w - (D + 6) > kMaxPad) return false;
  const double magnitude = std::fabs(value);
  if (!(magnitude > 0.0)) return false;
  std::int64_t mantissa = 0;
  int e10 = 0;
  if (!fastMantissa(magnitude, D, mantissa, e10) || e10 <= -99 || e10 >= 99) return false;
  putPadding(p);
  const char sign = value < 0 ? '-' : ' ';
  if (e10 >= 0 && e10 < D) {
    // [-]dd.d ending 4 before the field's end; the point follows digit e10.
    char digits[8];
    putDigits<D>(digits, static_cast<std::uint32_t>(mantissa));
    char* t = p + w - 4 - (D + 1);
    t[-1] = sign;
    for (int k = 0; k < D; ++k) t[k + static_cast<int>(k > e10)] = digits[k];
    t[e10 + 1] = '.';
    std::memcpy(p + w - 4, "    ", 4);
    return true;
  }
  // [-]0.ddd, then 4 blanks or the exponent of 0.ddd.
  const bool fixed = e10 == -1;
  char* t = p + w - (D + 6);  // 0.ddd and its 4 blanks are as long as 0.dddE+xx
  t[-1] = sign;
  t[0] = '0';
  t[1] = '.';
  putDigits<D>(t + 2, static_cast<std::uint32_t>(mantissa));
  if (fixed) {
    std::memcpy(p + w - 4, "    ", 4);
  } else {
    putShortExponent(t + D + 2, e10 + 1);
  }
  return true;
}

bool putCommonE(char* p, double value, int w, int d) {
  switch (d) {
    case 1:
      return putCommonE<1>(p, value, w);
    case 2:
      return putCommonE<2>(p, value, w);
    case 3:
      return putCommonE<3>(p, value, w);
    case 4:
      return putCommonE<4>(p, value, w);
    case 5:
      return putCommonE<5>(p, value, w);
    case 6:
      return putCommonE<6>(p, value, w);
    default:
      return false;
  }
}

bool putCommonG(char* p, double value, int w, int d) {
  switch (d) {
    case 1:
      return putCommonG<1>(p, value, w);
    case 2:
      return putCommonG<2>(p, value, w);
    case 3:
      return putCommonG<3>(p, value, w);
    case 4:
      return putCommonG<4>(p, value, w);
    case 5:
      return putCommonG<5>(p, value, w);
    case 6:
      return putCommonG<6>(p, value, w);
    case 7:
      return putCommonG<7>(p, value, w);
    default:
      return false;
  }
}

}  // namespace

char* putE(char* p, double value, int w, int d) {
  if (putCommonE(p, value, w, d)) return p + w;
  if (!std::isfinite(value) || d < 0 || d + 1 > kMaxDigits) return putStars(p, w);
  char digits[kMaxDigits];
  int e10 = 0;
  const bool nonZero = roundedDigits(std::fabs(value), d + 1, digits, e10);
  if (!nonZero) {
    std::memset(digits, '0', static_cast<size_t>(d + 1));
    e10 = 0;
  }
  char text[kMaxDigits + 16];
  int len = 0;
  if (nonZero && value < 0) text[len++] = '-';
  text[len++] = digits[0];
  text[len++] = '.';
  std::memcpy(text + len, digits + 1, static_cast<size_t>(d));
  len += d;
  len += putExponent(text + len, e10);
  return putRightAligned(p, text, len, w);
}

char* putG(char* p, double value, int w, int d) {
  if (putCommonG(p, value, w, d)) return p + w;
  if (!std::isfinite(value) || d < 1 || d > kMaxDigits || w < 4) return putStars(p, w);
  char digits[kMaxDigits];
  int e10 = 0;
  const bool nonZero = roundedDigits(std::fabs(value), d, digits, e10);
  const bool negative = nonZero && value < 0;
  char text[kMaxDigits + 16];
  int len = 0;
  if (negative) text[len++] = '-';
  if (nonZero && e10 >= -1 && e10 < d) {
    // 0.1 <= rounded magnitude < 10^d: d significant digits in fixed form
    // in w - 4 characters, then 4 blanks.
    const int zeroAt = len;
    if (e10 == -1) {
      text[len++] = '0';
      text[len++] = '.';
      std::memcpy(text + len, digits, static_cast<size_t>(d));
      len += d;
    } else {
      std::memcpy(text + len, digits, static_cast<size_t>(e10 + 1));
      len += e10 + 1;
      text[len++] = '.';
      std::memcpy(text + len, digits + e10 + 1, static_cast<size_t>(d - e10 - 1));
      len += d - e10 - 1;
    }
    const int fw = w - 4;
    if (len > fw && e10 == -1 && len - 1 <= fw) {
      std::memmove(text + zeroAt, text + zeroAt + 1, static_cast<size_t>(len - zeroAt - 1));
      --len;
    }
    p = putRightAligned(p, text, len, fw);
    std::memset(p, ' ', 4);
    return p + 4;
  }
  // Zero and everything else: 0.ddd with the exponent of 0.ddd.
  if (!nonZero) std::memset(digits, '0', static_cast<size_t>(d));
  text[len++] = '0';
  text[len++] = '.';
  std::memcpy(text + len, digits, static_cast<size_t>(d));
  len += d;
  len += putExponent(text + len, nonZero ? e10 + 1 : 0);
  return putRightAligned(p, text, len, w);
}

void appendI(std::string& out, std::int64_t value, int w) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  appendRightAligned(out, buf, static_cast<int>(result.ptr - buf), w);
}

void appendF(std::string& out, double value, int w, int d) {
  if (!std::isfinite(value)) {
    appendStars(out, w);
    return;
  }
  appendFixed(out, toDecimal(value), w, d);
}

void appendE(std::string& out, double value, int w, int d) {
  if (w <= 0) return;
  const size_t old = out.size();
  out.resize(old + static_cast<size_t>(w));
  putE(out.data() + old, value, w, d);
}

void appendG(std::string& out, double value, int w, int d) {
  if (w <= 0) return;
  const size_t old = out.size();
  out.resize(old + static_cast<size_t>(w));
  putG(out.data() + old, value, w, d);
}

void appendA(std::string& out, std::string_view text, int w) {
  if (w <= 0) return;
  const auto width = static_cast<size_t>(w);
  if (text.size() >= width) {
    out.append(text.substr(0, width));
  } else {
    out.append(width - text.size(), ' ');
    out.append(text);
  }
}

void appendX(std::string& out, int n) {
  if (n > 0) out.append(static_cast<size_t>(n), ' ');
}

std::string fieldI(std::int64_t value, int w) {
  std::string s;
  appendI(s, value, w);
  return s;
}

std::string fieldF(double value, int w, int d) {
  std::string s;
  appendF(s, value, w, d);
  return s;
}

std::string fieldE(double value, int w, int d) {
  std::string s;
  appendE(s, value, w, d);
  return s;
}

std::string fieldG(double value, int w, int d) {
  std::string s;
  appendG(s, value, w, d);
  return s;
}

std::string numTermText(int numTerm) { return fieldI(numTerm, 4); }

std::string delRsqText(double delRsq) { return fieldE(delRsq, 7, 1); }

void ListItem::appendTo(std::string& out) const {
  if (!isInteger_) {
    out.append(text_);
    return;
  }
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, value_);
  const int len = static_cast<int>(result.ptr - buf);
  // A free-form line never overflows: a wider number simply takes its room.
  if (len < kListIntegerWidth) out.append(static_cast<size_t>(kListIntegerWidth - len), ' ');
  out.append(buf, static_cast<size_t>(len));
}

void appendListLine(std::string& out, std::initializer_list<ListItem> items) {
  out.push_back(' ');
  for (const ListItem& item : items) item.appendTo(out);
}

std::string listLine(std::initializer_list<ListItem> items) {
  std::string s;
  appendListLine(s, items);
  return s;
}

}  // namespace tavel::io
