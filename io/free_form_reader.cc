// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/free_form_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "io/column_kinds.h"

namespace tavel::io {
namespace {

using platform::ReadResult;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool endsToken(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when token is [+-](digits[.digits] | .digits)[(E|e|D|d)[+-]digits];
// exponentAt receives the position of the exponent letter (npos: none).
bool isRealSyntax(std::string_view t, std::size_t& exponentAt) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  exponentAt = std::string_view::npos;
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && isDigit(t[i])) ++i, ++digits;
  if (i < n && t[i] == '.') {
    ++i;
    while (i < n && isDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i == n) return true;
  if (t[i] != 'E' && t[i] != 'e' && t[i] != 'D' && t[i] != 'd') return false;
  exponentAt = i++;
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t expDigits = 0;
  while (i < n && isDigit(t[i])) ++i, ++expDigits;
  return expDigits > 0 && i == n;
}

// Decimal order of magnitude of a syntactically valid real whose value is
// not zero: negative for |value| < 1. Used only to tell an underflow from an
// overflow, so a rough answer (saturating exponents) is enough.
long magnitude(std::string_view t) {
  std::size_t i = 0;
  if (t[i] == '+' || t[i] == '-') ++i;
  long order = 0;
  bool seenNonZero = false;
  while (i < t.size() && isDigit(t[i])) {
    if (t[i] != '0') seenNonZero = true;
    if (seenNonZero) ++order;
    ++i;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && isDigit(t[i])) {
      if (t[i] != '0') {
        seenNonZero = true;
        break;
      }
      if (!seenNonZero) --order;
      ++i;
    }
    while (i < t.size() && isDigit(t[i])) ++i;
  }
  if (i < t.size()) {
    ++i;  // exponent letter
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    long e = 0;
    while (i < t.size()) {
      e = std::min(e * 10 + (t[i] - '0'), 1000000L);
      ++i;
    }
    order += negative ? -e : e;
  }
  return order;
}

// Converts a token already known to be valid real syntax.
template <typename T>
std::errc parseReal(std::string_view token, std::size_t exponentAt, T& value) {
  if (token.front() == '+') {
    token.remove_prefix(1);
    if (exponentAt != std::string_view::npos) --exponentAt;
  }
  // The standard parser knows only the E exponent letter.
  char local[64];
  std::string longCopy;
  const std::size_t d = exponentAt;
  if (d != std::string_view::npos && (token[d] == 'D' || token[d] == 'd')) {
    char* dst = local;
    if (token.size() > sizeof local) {
      longCopy.assign(token);
      dst = longCopy.data();
    } else {
      std::copy(token.begin(), token.end(), local);
    }
    dst[d] = 'E';
    token = std::string_view(dst, token.size());
  }
  const auto r = std::from_chars(token.data(), token.data() + token.size(), value);
  if (r.ec == std::errc() && r.ptr != token.data() + token.size())
    return std::errc::invalid_argument;
  return r.ec;
}

// A plain decimal without an exponent whose digits make a whole number
// that T holds exactly, over a power of ten that T holds exactly: one
// division then rounds it correctly, as the full conversion would (the
// classic fast path of decimal conversion). False for anything else, which
// the full conversion reads.
template <typename T>
bool plainDecimal(std::string_view t, T& value) {
  constexpr bool kFloat = std::is_same_v<T, float>;
  constexpr std::uint64_t kMaxWhole = kFloat ? std::uint64_t{1} << 24 : std::uint64_t{1} << 53;
  constexpr std::size_t kMaxScale = kFloat ? 10 : 22;
  static constexpr T kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  std::size_t i = 0;
  const std::size_t n = t.size();
  const bool negative = n > 0 && t[0] == '-';
  if (n > 0 && (t[0] == '+' || t[0] == '-')) ++i;
  std::uint64_t whole = 0;
  std::size_t digits = 0;
  std::size_t scale = 0;
  for (; i < n && isDigit(t[i]); ++i, ++digits) whole = whole * 10 + (t[i] - '0');
  if (i < n && t[i] == '.') {
    for (++i; i < n && isDigit(t[i]); ++i, ++digits, ++scale) whole = whole * 10 + (t[i] - '0');
  }
  // 19 digits cannot overflow the counter.
  if (i != n || digits == 0 || digits > 19 || whole > kMaxWhole || scale > kMaxScale) return false;
  const T q = static_cast<T>(whole) / kPowers[scale];
  value = negative ? -q : q;
  return true;
}

// A real value of the row. Values beyond the double range are unreadable in
// both precisions, so the scan and the re-read accept the same rows; a value
// that fits a double but not a float becomes an infinity in single
// precision (and is positive or negative as written), one that is too small
// becomes a subnormal or zero.
template <typename T>
bool toReal(std::string_view token, T& value) {
  if (plainDecimal(token, value)) return true;
  std::size_t exponentAt = 0;
  if (!isRealSyntax(token, exponentAt)) return false;
  T v{};
  std::errc ec = parseReal(token, exponentAt, v);
  if (ec == std::errc()) {
    value = v;
    return true;
  }
  if (ec != std::errc::result_out_of_range) return false;
  const bool negative = token.front() == '-';
  if constexpr (std::is_same_v<T, float>) {
    double wide = 0;
    const std::errc ecWide = parseReal(token, exponentAt, wide);
    if (ecWide == std::errc()) {
      constexpr double kMax = std::numeric_limits<float>::max();
      if (std::fabs(wide) > kMax)
        value = negative ? -std::numeric_limits<float>::infinity()
                         : std::numeric_limits<float>::infinity();
      else
        value = static_cast<float>(wide);  // a subnormal or zero
      return true;
    }
  }
  if (magnitude(token) >= 0) return false;  // beyond the double range
  value = negative ? -T(0) : T(0);
  return true;
}

bool toInteger(std::string_view token, int& value) {
  // One sign at most: "+-4" is not a number.
  const bool plus = !token.empty() && token.front() == '+';
  if (plus) token.remove_prefix(1);
  if (token.empty() || token.front() == '+' || (plus && token.front() == '-')) return false;
  int v = 0;
  const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
  if (r.ec != std::errc() || r.ptr != token.data() + token.size()) return false;
  value = v;
  return true;
}

template <typename T>
bool toValue(std::string_view token, T& value) {
  if constexpr (std::is_same_v<T, int>) {
    return toInteger(token, value);
  } else {
    return toReal(token, value);
  }
}

enum class Feed { Complete, NeedMore, Error, Missing };

// "N/A" at text[i...] as one field (its slash does not end the row).
std::size_t notAvailableLength(std::string_view t, std::size_t i) {
  if (i + 3 > t.size() || (t[i] != 'N' && t[i] != 'n') || t[i + 1] != '/' ||
      (t[i + 2] != 'A' && t[i + 2] != 'a'))
    return 0;
  return i + 3 == t.size() || endsToken(t[i + 3]) ? 3 : 0;
}

// The state of one row read across its records. With a plan, out holds one
// value per file column, and the columns that are not numbers take their
// field whole (a label, a date) as the plan reads it.
template <typename T>
class RowParse {
 public:
  explicit RowParse(std::span<T> out, CellPlan* plan = nullptr) : out_(out), plan_(plan) {}

  // Consumes one record. Complete: every value is set (or the row ended
  // early); NeedMore: the record ended first; Error: an unreadable field.
  Feed feed(std::string_view record) {
    const std::size_t n = out_.size();
    std::size_t i = 0;
    const std::size_t end = record.size();
    while (true) {
      while (i < end && isBlank(record[i])) ++i;
      if (i == end) return Feed::NeedMore;
      const char c = record[i];
      if (c == ',') {
        if (expectValue_) {  // an empty field
          kept_ = true;
          if (++k_ == n) return Feed::Complete;
        }
        expectValue_ = true;
        ++i;
        continue;
      }
      if (c == '/') {
        kept_ = true;  // the values not given keep the previous row's
        return Feed::Complete;
      }
      std::size_t j = i;
      std::size_t star = std::string_view::npos;
      const std::size_t na = plan_ != nullptr ? notAvailableLength(record, i) : 0;
      if (na > 0) j = i + na;
      for (; j < end && !endsToken(record[j]); ++j)
        if (record[j] == '*' && star == std::string_view::npos) star = j - i;
      const std::string_view token = record.substr(i, j - i);
      i = j;
      expectValue_ = false;
      if constexpr (!std::is_same_v<T, int>) {
        if (plan_ != nullptr) {
          const ColumnKind kind = plan_->kind(k_);
          if (kind != ColumnKind::Skipped && isMissingMark(token))
            return fail(Feed::Missing, token);
          if (kind != ColumnKind::Number) {
            if (!plan_->convert(k_, token, out_[k_])) return fail(Feed::Error, token);
            if (++k_ == n) return Feed::Complete;
            continue;
          }
        }
      }
      if (star == std::string_view::npos) {
        if (!toValue(token, out_[k_])) return fail(Feed::Error, token);
        if (++k_ == n) return Feed::Complete;
        continue;
      }
      // r*value or r*: a repeat count, then one value or an empty field.
      int repeat = 0;
      const std::string_view count = token.substr(0, star);
      if (count.empty() || !std::all_of(count.begin(), count.end(), isDigit))
        return fail(Feed::Error, token);
      const auto r = std::from_chars(count.data(), count.data() + count.size(), repeat);
      if (r.ec != std::errc() || repeat < 1) return fail(Feed::Error, token);
      const std::string_view item = token.substr(star + 1);
      T v{};
      const bool empty = item.empty();
      if (!empty && !toValue(item, v)) return fail(Feed::Error, token);
      if (empty) kept_ = true;
      const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(repeat), n - k_);
      for (std::size_t m = 0; m < take; ++m, ++k_) {
        if (!empty) out_[k_] = v;
      }
      if (k_ == n) return Feed::Complete;
    }
  }

  // True once a value of the row was left out (and keeps what it was).
  bool kept() const { return kept_; }
  // The field that stopped the row, and its place among the values.
  std::size_t faultAt() const { return faultAt_; }
  const std::string& faultText() const { return faultText_; }

 private:
  Feed fail(Feed feed, std::string_view token) {
    faultAt_ = k_;
    faultText_.assign(token.substr(0, 40));
    return feed;
  }

  std::span<T> out_;
  CellPlan* plan_;
  std::size_t faultAt_ = 0;
  std::string faultText_;
  std::size_t k_ = 0;
  bool kept_ = false;
  bool expectValue_ = true;  // at the start a comma gives an empty field
};

std::string_view withoutCarriageReturn(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

template <typename T>
bool readOne(std::string_view text, T& value) {
  T v = value;
  std::span<T> one(&v, 1);
  RowParse<T> parse(one);
  // A null field or a slash leaves the value as it was: that is "unchanged".
  const std::string_view record = withoutCarriageReturn(text);
  const std::size_t first = record.find_first_not_of(" \t");
  if (first == std::string_view::npos || record[first] == '/' || record[first] == ',') return false;
  if (parse.feed(record) != Feed::Complete) return false;
  // "2*" is a repeated empty field: no value either.
  const std::string_view token = record.substr(first, record.find_first_of(" \t,/", first) - first);
  if (!token.empty() && token.back() == '*') return false;
  value = v;
  return true;
}

}  // namespace

FreeFormReader::FreeFormReader(platform::TextSource& source, int unit, int linesBefore)
    : source_(source), unit_(unit), linesBefore_(linesBefore) {}

// Hands the next record to consume in chunks that end at a field separator
// or at the record's end, so no field is ever split; stops handing over
// when consume returns false and skips the rest of the record.
template <typename Consume>
FreeFormReader::RecordEnd FreeFormReader::readRecord(Consume&& consume) {
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  if (inputFailed_) return RecordEnd::NoRecord;
  bool ended = false;
  ReadResult r = source_.readPiece(unit_, piece_, kPiece, ended);
  if (r != ReadResult::Success) {
    inputFailed_ = r == ReadResult::Error;
    return RecordEnd::NoRecord;
  }
  ++recordsRead_;
  carry_.clear();
  bool wanted = true;
  bool tooLong = false;
  while (true) {
    if (wanted && ended) {
      if (carry_.empty()) {
        wanted = consume(std::string_view(piece_));
      } else {
        carry_ += piece_;
        wanted = consume(std::string_view(carry_));
      }
    } else if (wanted) {
      carry_ += piece_;
      const std::size_t cut = carry_.find_last_of(" \t,/");
      if (cut != std::string::npos) {
        wanted = consume(std::string_view(carry_).substr(0, cut + 1));
        carry_.erase(0, cut + 1);
      }
      if (wanted && carry_.size() > kMaxFieldChars) {
        tooLong = true;
        wanted = false;
      }
    }
    if (ended) break;
    r = source_.readPiece(unit_, piece_, kPiece, ended);
    if (r != ReadResult::Success) {
      inputFailed_ = r == ReadResult::Error;
      break;
    }
  }
  carry_.clear();
  return tooLong ? RecordEnd::FieldTooLong : RecordEnd::Read;
}

template <typename T>
ReadResult FreeFormReader::readRowImpl(std::span<T> values, std::vector<T>& staging,
                                       std::vector<T>& previous) {
  if (values.empty() && (plan_ == nullptr || plan_->cells() == 0)) return discardRecord();
  if (plan_ == nullptr) {
    staging.assign(values.begin(), values.end());
  } else {
    // The values left out of a row are those of its file columns in the
    // row before.
    previous.resize(plan_->cells(), T(0));
    staging = previous;
  }
  RowParse<T> parse{std::span<T>(staging), plan_};
  int keptAt = 0;
  while (true) {
    Feed feed = Feed::NeedMore;
    const RecordEnd end = readRecord([&](std::string_view chunk) {
      feed = parse.feed(chunk);
      if (keptAt == 0 && parse.kept()) keptAt = currentLine();
      return feed == Feed::NeedMore;
    });
    if (end == RecordEnd::NoRecord) return ReadResult::EndOfFile;
    if (end == RecordEnd::FieldTooLong) feed = Feed::Error;
    switch (feed) {
      case Feed::Complete:
        if (plan_ == nullptr) {
          std::copy(staging.begin(), staging.end(), values.begin());
        } else {
          previous = staging;
          for (std::size_t c = 0; c < staging.size(); ++c)
            if (plan_->column(c) >= 0)
              values[static_cast<std::size_t>(plan_->column(c))] = staging[c];
        }
        if (keptAt != 0) {
          ++rowsKeepingValues_;
          if (firstKeepingLine_ == 0) firstKeepingLine_ = keptAt;
        }
        return ReadResult::Success;
      case Feed::Error:
      case Feed::Missing:
        lastMissing_ = feed == Feed::Missing;
        lastFaultCell_ = static_cast<int>(parse.faultAt());
        lastFaultText_ = parse.faultText();
        return ReadResult::Error;
      case Feed::NeedMore:
        break;
    }
  }
}

ReadResult FreeFormReader::readRow(std::span<float> values) {
  return readRowImpl(values, stagingFloat_, previousFloat_);
}
ReadResult FreeFormReader::readRow(std::span<double> values) {
  return readRowImpl(values, stagingDouble_, previousDouble_);
}

ReadResult FreeFormReader::discardRecord() {
  const RecordEnd end = readRecord([](std::string_view) { return false; });
  return end == RecordEnd::NoRecord ? ReadResult::EndOfFile : ReadResult::Success;
}

template <typename T>
bool FreeFormReader::nextRowImpl(std::span<T> values) {
  while (true) {
    switch (readRow(values)) {
      case ReadResult::Success:
        return true;
      case ReadResult::EndOfFile:
        return false;
      case ReadResult::Error:
        if (lastMissing_) {
          if (incompleteRows_++ == 0) firstIncompleteLine_ = currentLine();
          break;
        }
        if (unreadableRows_++ == 0) {
          firstUnreadableLine_ = currentLine();
          firstUnreadableCell_ = lastFaultCell_;
          firstUnreadableText_ = lastFaultText_;
        }
        // The record after an unreadable one is a row of its own: only a
        // reader without a plan of the columns still skips it, as files
        // were always read.
        if (plan_ == nullptr && discardRecord() != ReadResult::Success) return false;
        break;
    }
  }
}

bool FreeFormReader::nextRow(std::span<float> values) { return nextRowImpl(values); }
bool FreeFormReader::nextRow(std::span<double> values) { return nextRowImpl(values); }

bool readFreeFormNumber(std::string_view text, int& value) { return readOne(text, value); }
bool readFreeFormNumber(std::string_view text, double& value) { return readOne(text, value); }

bool readRealValue(std::string_view token, float& value) { return toReal(token, value); }
bool readRealValue(std::string_view token, double& value) { return toReal(token, value); }

bool isRealValue(std::string_view token) {
  std::size_t exponentAt = 0;
  if (!isRealSyntax(token, exponentAt)) return false;
  // Without an exponent a value is beyond the double range only with more
  // than 308 digits before its point; a value too small for a double reads
  // as zero. Anything else is converted to tell.
  constexpr std::size_t kSafeDigits = 300;
  const std::size_t wholeDigits = std::min(token.find('.'), token.size());
  if (exponentAt == std::string_view::npos && wholeDigits <= kSafeDigits) return true;
  double value = 0;
  return toReal(token, value);
}

}  // namespace tavel::io
