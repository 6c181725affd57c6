#include "app/field_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tavel::app {
namespace {

// A finite value as decimal digits: |value| = 0.d1 d2 ... dn * 10^exp, with
// d1 != 0 unless the value is zero (then n = 0).
struct Decimal {
  std::array<char, 40> digits{};
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

char digitAt(const Decimal& dec, int i) { return i >= 0 && i < dec.n ? dec.digits[i] : '0'; }

void appendStars(std::string& out, int w) {
  if (w > 0) out.append(static_cast<size_t>(w), '*');
}

void appendRightAligned(std::string& out, const char* text, int len, int w) {
  if (len > w) {
    appendStars(out, w);
    return;
  }
  out.append(static_cast<size_t>(w - len), ' ');
  out.append(text, static_cast<size_t>(len));
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

}  // namespace

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
  if (!std::isfinite(value)) {
    appendStars(out, w);
    return;
  }
  Decimal dec = toDecimal(value);
  roundTo(dec, d + 1);
  char buf[64];
  int len = 0;
  if (dec.negative && dec.n > 0) buf[len++] = '-';
  buf[len++] = digitAt(dec, 0);
  buf[len++] = '.';
  for (int k = 1; k <= d && len < 50; ++k) buf[len++] = digitAt(dec, k);
  len += putExponent(buf + len, dec.n > 0 ? dec.exp - 1 : 0);
  appendRightAligned(out, buf, len, w);
}

void appendG(std::string& out, double value, int w, int d) {
  if (!std::isfinite(value)) {
    appendStars(out, w);
    return;
  }
  Decimal dec = toDecimal(value);
  roundTo(dec, d);
  if (dec.n > 0 && dec.exp >= 0 && dec.exp <= d) {
    // 0.1 <= rounded magnitude < 10^d: d significant digits in fixed form.
    appendFixed(out, dec, w - 4, d - dec.exp);
    appendX(out, 4);
    return;
  }
  char buf[64];
  int len = 0;
  if (dec.negative && dec.n > 0) buf[len++] = '-';
  buf[len++] = '0';
  buf[len++] = '.';
  for (int k = 0; k < d && len < 50; ++k) buf[len++] = digitAt(dec, k);
  len += putExponent(buf + len, dec.n > 0 ? dec.exp : 0);
  appendRightAligned(out, buf, len, w);
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

}  // namespace tavel::app
