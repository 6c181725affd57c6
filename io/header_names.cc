// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/header_names.h"

#include <algorithm>

#include "io/csv_reader.h"

namespace tavel::io {
namespace {

// The rest of a header line is read in pieces of this size.
constexpr std::size_t kHeaderPiece = 4096;

bool isNameSeparator(char c) { return c == ' ' || c == '\t' || c == '~'; }

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Bytes of the UTF-8 character a lead byte starts (0: not a lead byte).
std::size_t utf8Length(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  if (b >= 0xC0 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF7) return 4;
  return 0;
}

// A kept name as UTF-8, converted from Latin-1 when it is not UTF-8 already,
// then cut; the lists of the header say what happened to it.
void keepName(std::string_view raw, bool truncated, HeaderNames& h) {
  const bool utf8 = isUtf8(raw, truncated);
  const std::string text = utf8 ? std::string(raw) : latin1ToUtf8(raw);
  bool splitCharacter = false;
  h.names.push_back(cutToWidth(text, kNameLength, &splitCharacter));
  if (!utf8) h.readAsLatin1.push_back(h.names.back());
  if (splitCharacter) h.cutInsideCharacter.push_back(h.names.back());
}

}  // namespace

std::string cutToWidth(std::string_view text, std::size_t width, bool* cutInsideCharacter) {
  if (cutInsideCharacter != nullptr) *cutInsideCharacter = false;
  std::size_t cut = std::min(text.size(), width);
  if (text.size() > width && isContinuationByte(text[width])) {
    // Back to the lead byte of the character the cut would split, when the
    // bytes really are one UTF-8 character (other encodings are cut as is).
    std::size_t lead = width;
    while (lead > 0 && width - lead < 3 && isContinuationByte(text[lead - 1])) --lead;
    if (lead > 0) {
      --lead;
      const std::size_t length = utf8Length(text[lead]);
      bool whole = length > width - lead && lead + length <= text.size();
      for (std::size_t i = lead + 1; whole && i < lead + length; ++i)
        whole = isContinuationByte(text[i]);
      if (whole) {
        cut = lead;
        if (cutInsideCharacter != nullptr) *cutInsideCharacter = true;
      }
    }
  }
  std::string s(text.substr(0, cut));
  s.resize(width, ' ');
  return s;
}

bool isUtf8(std::string_view text, bool mayEndInside) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    // Lead bytes C2..F4: C0, C1 would start overlong forms, F5 and above
    // codes beyond U+10FFFF.
    if (b < 0xC2 || b > 0xF4) return false;
    const std::size_t length = utf8Length(text[i]);
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= text.size()) return mayEndInside;
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      // The second byte also bars overlong 3- and 4-byte forms, the
      // surrogates and codes beyond U+10FFFF.
      if (k == 1 && ((b == 0xE0 && c < 0xA0) || (b == 0xED && c > 0x9F) ||
                     (b == 0xF0 && c < 0x90) || (b == 0xF4 && c > 0x8F)))
        return false;
    }
    i += length;
  }
  return true;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

void FreeFormHeaderSplitter::add(std::string_view piece) {
  if (!started_) {
    started_ = true;
    if (piece.substr(0, kByteOrderMark.size()) == kByteOrderMark)
      piece.remove_prefix(kByteOrderMark.size());
  }
  for (char c : piece) {
    if (isNameSeparator(c)) {
      if (inName_) endName();
    } else {
      inName_ = true;
      if (current_.size() < kNameKeepBytes)
        current_ += c;
      else
        truncated_ = true;
    }
  }
}

void FreeFormHeaderSplitter::endName() {
  ++complete_;
  if (raw_.size() < maxNames_) {
    raw_.push_back(current_);
    rawTruncated_.push_back(truncated_);
  }
  current_.clear();
  truncated_ = false;
  inName_ = false;
}

HeaderNames FreeFormHeaderSplitter::finish() {
  // The line end ends the last name.
  if (inName_) endName();
  HeaderNames h;
  h.complete = complete_;
  for (std::size_t k = 0; k < raw_.size(); ++k) keepName(raw_[k], rawTruncated_[k], h);
  return h;
}

HeaderNames splitHeader(std::string_view headerLine) {
  if (!headerLine.empty() && headerLine.back() == '\r') headerLine.remove_suffix(1);
  FreeFormHeaderSplitter splitter;
  splitter.add(headerLine);
  return splitter.finish();
}

std::vector<std::string> headerToNames(std::string_view headerLine) {
  return splitHeader(headerLine).names;
}

platform::ReadResult readFreeFormHeader(platform::Runtime& runtime, int unit, HeaderNames& header) {
  FreeFormHeaderSplitter splitter;
  std::string piece;
  bool ended = false;
  const platform::ReadResult first = runtime.readPiece(unit, piece, kHeaderPiece, ended);
  if (first != platform::ReadResult::Success) return first;
  splitter.add(piece);
  while (!ended) {
    const platform::ReadResult r = runtime.readPiece(unit, piece, kHeaderPiece, ended);
    if (r == platform::ReadResult::Error) return r;
    if (r == platform::ReadResult::EndOfFile) break;  // a last line without its line end
    splitter.add(piece);
  }
  header = splitter.finish();
  return platform::ReadResult::Success;
}

HeaderNames namesFromCells(std::vector<std::string> cells, std::size_t maxNames) {
  HeaderNames h;
  h.complete = static_cast<int>(cells.size());
  for (std::size_t c = 0; c < cells.size() && h.names.size() < maxNames; ++c) {
    std::string& text = cells[c];
    std::replace_if(
        text.begin(), text.end(), [](char x) { return x == '\t' || x == '\r' || x == '\n'; }, ' ');
    // A column without a name still holds its place among the cells.
    if (text.empty()) text = "(column " + std::to_string(c + 1) + ")";
    keepName(text, text.size() >= kNameKeepBytes, h);
  }
  return h;
}

}  // namespace tavel::io
