// SPDX-License-Identifier: GPL-3.0-or-later
// The header line to column names, against a literal transcription of the
// steps: every blank and tab becomes "~" on the whole line and a "~" ends
// it, runs of "~" shrink to one, a leading "~" goes, and every text before a
// "~" is a name; a name whose first 54 bytes are not UTF-8 (a character cut
// short at the 54th byte aside) is taken as Latin-1; it is cut or padded to
// 50 characters, at most 64 of them. A cut that would split a UTF-8
// character is made before that character. A UTF-8 byte-order mark and a
// carriage return ending the line are not part of the names (the reader
// drops them before the steps).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/data_file.h"
#include "app/records.h"
#include "fuzz/fuzz_check.h"

namespace {

using tavel::app::kMaxNames;
using tavel::app::kNameLength;

// The first width bytes of name, less the start of a UTF-8 character that
// would be split there (a lead byte with all its continuation bytes).
std::string cutLiterally(const std::string& name, std::size_t width) {
  if (name.size() <= width) return name;
  auto continuation = [&](std::size_t i) {
    return (static_cast<unsigned char>(name[i]) >> 6) == 2;
  };
  for (std::size_t back = 1; back <= 3 && back <= width; ++back) {
    const std::size_t lead = width - back;
    const unsigned char b = static_cast<unsigned char>(name[lead]);
    if (continuation(lead)) continue;
    const std::size_t length = b >= 0xF0 && b <= 0xF7   ? 4
                               : b >= 0xE0 && b <= 0xEF ? 3
                               : b >= 0xC0 && b <= 0xDF ? 2
                                                        : 1;
    if (length <= back || lead + length > name.size()) break;
    for (std::size_t i = lead + 1; i < lead + length; ++i)
      if (!continuation(i)) return name.substr(0, width);
    return name.substr(0, lead);
  }
  return name.substr(0, width);
}

std::vector<std::string> literalNames(std::string_view line) {
  if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string buf(line);
  buf += '~';
  for (char& c : buf)
    if (c == ' ' || c == '\t') c = '~';
  std::string shrunk;
  for (char c : buf)
    if (c != '~' || shrunk.empty() || shrunk.back() != '~') shrunk += c;
  buf = shrunk;
  if (buf.front() == '~') buf.erase(0, 1);
  std::vector<std::string> names;
  for (std::size_t at = buf.find('~'); at != std::string::npos; at = buf.find('~')) {
    std::string raw = buf.substr(0, at);
    const bool truncated = raw.size() > tavel::app::kNameKeepBytes;
    raw.resize(std::min(raw.size(), tavel::app::kNameKeepBytes));
    if (!tavel::app::isUtf8(raw, truncated)) raw = tavel::app::latin1ToUtf8(raw);
    std::string name = cutLiterally(raw, kNameLength);
    name.resize(kNameLength, ' ');
    names.push_back(name);
    buf.erase(0, at + 1);
  }
  if (names.size() > static_cast<std::size_t>(kMaxNames)) names.resize(kMaxNames);
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> names = tavel::app::headerToNames(line);
  const std::vector<std::string> expected = literalNames(line);
  FUZZ_CHECK(names.size() == expected.size(), "%zu names, expected %zu", names.size(),
             expected.size());
  for (std::size_t k = 0; k < names.size(); ++k) {
    FUZZ_CHECK(names[k] == expected[k], "name %zu is [%s], expected [%s]", k + 1, names[k].c_str(),
               expected[k].c_str());
    const std::string_view name(names[k]);
    FUZZ_CHECK(name.front() != ' ' && name.find_first_of("\t~") == std::string_view::npos,
               "name %zu [%s] holds a separator", k + 1, names[k].c_str());
  }
  return 0;
}
