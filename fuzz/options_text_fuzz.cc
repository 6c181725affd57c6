// SPDX-License-Identifier: GPL-3.0-or-later
// The free-form reading of the OPTIONS edit boxes. The input is split at its
// first NUL byte into the NumTerm text and the DelRsq text (no NUL: the same
// text in both). Each text is read on its own and through the dialog's read
// back, and compared with an independent reading of the first field:
//   [r*]value, value an integer for NumTerm and [+-]digits[.digits] or
//   [+-].digits with an optional E, e, D or d exponent for DelRsq;
// an empty text, a leading slash or comma, "r*" alone, a value beyond the
// range of its type or anything else leaves the setting unchanged.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/options_dialog.h"
#include "app/records.h"
#include "fuzz/fuzz_check.h"
#include "io/free_form_reader.h"
#include "platform/headless/scripted_dialog.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The value text of the first field, or nothing when the field gives none.
std::optional<std::string> firstValueText(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  if (text[first] == '/' || text[first] == ',') return std::nullopt;
  const std::size_t end = text.find_first_of(" \t,/", first);
  std::string_view token = text.substr(first, end == std::string_view::npos ? end : end - first);
  const std::size_t star = token.find('*');
  if (star != std::string_view::npos) {
    const std::string_view count = token.substr(0, star);
    if (count.empty()) return std::nullopt;
    long long r = 0;
    for (char c : count) {
      if (!isDigit(c)) return std::nullopt;
      r = r * 10 + (c - '0');
      if (r > 2147483647) return std::nullopt;
    }
    if (r < 1) return std::nullopt;
    token.remove_prefix(star + 1);
    if (token.empty()) return std::nullopt;  // r* alone: empty fields
  }
  return std::string(token);
}

std::optional<int> referenceInt(std::string_view text) {
  const std::optional<std::string> t = firstValueText(text);
  if (!t) return std::nullopt;
  std::size_t i = 0;
  bool negative = false;
  if (i < t->size() && ((*t)[i] == '+' || (*t)[i] == '-')) negative = (*t)[i++] == '-';
  if (i == t->size()) return std::nullopt;
  long long v = 0;
  for (; i < t->size(); ++i) {
    if (!isDigit((*t)[i])) return std::nullopt;
    v = v * 10 + ((*t)[i] - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return std::nullopt;
  return static_cast<int>(v);
}

std::optional<double> referenceReal(std::string_view text) {
  const std::optional<std::string> t = firstValueText(text);
  if (!t) return std::nullopt;
  std::string s = *t;
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && isDigit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < n) {
    if (s[i] != 'E' && s[i] != 'e' && s[i] != 'D' && s[i] != 'd') return std::nullopt;
    s[i++] = 'e';
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && isDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0 || i != n) return std::nullopt;
  }
  errno = 0;
  const double v = std::strtod(s.c_str(), nullptr);
  if (std::isinf(v)) return std::nullopt;  // beyond the double range
  return v;
}

// The reader may give zero for a value below the normal double range.
bool sameReal(double got, double want) {
  if (got == want && std::signbit(got) == std::signbit(want)) return true;
  return got == 0.0 && std::fabs(want) < DBL_MIN;
}

constexpr int kUntouchedInt = -12345;
constexpr double kUntouchedReal = -777.25;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view numTermText = input.substr(0, nul);
  const std::string_view delRsqText = nul == std::string_view::npos ? input : input.substr(nul + 1);

  int i = kUntouchedInt;
  const bool intRead = tavel::app::readFreeFormNumber(numTermText, i);
  const std::optional<int> wantInt = referenceInt(numTermText);
  FUZZ_CHECK(intRead == wantInt.has_value(), "whole number read %d, expected %d", intRead,
             wantInt.has_value());
  FUZZ_CHECK(i == (wantInt ? *wantInt : kUntouchedInt), "whole number %d, expected %d", i,
             wantInt ? *wantInt : kUntouchedInt);

  double d = kUntouchedReal;
  const bool realRead = tavel::app::readFreeFormNumber(delRsqText, d);
  const std::optional<double> wantReal = referenceReal(delRsqText);
  FUZZ_CHECK(realRead == wantReal.has_value(), "number read %d, expected %d", realRead,
             wantReal.has_value());
  FUZZ_CHECK(std::isfinite(d), "number %g is not finite", d);
  if (wantReal)
    FUZZ_CHECK(sameReal(d, *wantReal), "number %.17g, expected %.17g", d, *wantReal);
  else
    FUZZ_CHECK(d == kUntouchedReal, "number %.17g changed although unreadable", d);

  // Through the dialog: the NumTerm box keeps its setting unless it reads a
  // count of at least one; the DelRsq box is read over its first 20 characters.
  tavel::platform::headless::ScriptedDialog dialog(tavel::app::optionsDialogResource(), {});
  dialog.setText(tavel::app::kNumTermBox, numTermText);
  dialog.setText(tavel::app::kDelRsqBox, delRsqText);
  tavel::app::RunOptions options;
  options.NumTerm = 7;
  options.DelRsq = 0.5;
  tavel::app::readBackOptions(dialog, options);
  const int wantNumTerm = wantInt && *wantInt >= 1 ? *wantInt : 7;
  FUZZ_CHECK(options.NumTerm == wantNumTerm, "NumTerm %d, expected %d", options.NumTerm,
             wantNumTerm);
  const std::string shown = dialog.getText(tavel::app::kDelRsqBox);
  const std::optional<double> wantDelRsq =
      referenceReal(std::string_view(shown).substr(0, tavel::app::kDelRsqTextLength));
  FUZZ_CHECK(std::isfinite(options.DelRsq), "DelRsq %g", options.DelRsq);
  FUZZ_CHECK(sameReal(options.DelRsq, wantDelRsq ? *wantDelRsq : 0.5),
             "DelRsq %.17g, expected %.17g", options.DelRsq, wantDelRsq ? *wantDelRsq : 0.5);
  return 0;
}
