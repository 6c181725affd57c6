// SPDX-License-Identifier: GPL-3.0-or-later
// The names of a header line: free-form splitting of a whole line, the
// UTF-8 check and the Latin-1 conversion, and the names of CSV cells.
#include "io/header_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavel::io {
namespace {

using Names = std::vector<std::string>;

Names trimmed(const Names& names) {
  Names out;
  for (const std::string& n : names) {
    EXPECT_EQ(n.size(), static_cast<std::size_t>(kNameLength));
    out.emplace_back(n.substr(0, n.find_last_not_of(' ') + 1));
  }
  return out;
}

TEST(HeaderToNames, SeparatorsCutsAndTheWholeLine) {
  EXPECT_EQ(trimmed(headerToNames("X1 X2\tY")), (Names{"X1", "X2", "Y"}));
  EXPECT_EQ(trimmed(headerToNames("\t A\t\tB")), (Names{"A", "B"}));
  EXPECT_EQ(trimmed(headerToNames("~a,b~~c;d  (e)")), (Names{"a,b", "c;d", "(e)"}));
  EXPECT_EQ(trimmed(headerToNames("\xEF\xBB\xBF"
                                  "A B\r")),
            (Names{"A", "B"}));
  EXPECT_TRUE(headerToNames(" \t ~~ ").empty());
  EXPECT_EQ(trimmed(headerToNames(std::string(60, 'n') + " B")),
            (Names{std::string(50, 'n'), "B"}));
  // The line end ends the last name wherever it falls.
  EXPECT_EQ(trimmed(headerToNames("A " + std::string(254, 'z'))),
            (Names{"A", std::string(50, 'z')}));
  EXPECT_EQ(trimmed(headerToNames(std::string(250, ' ') + "ABCDEFGHIJ K")),
            (Names{"ABCDEFGHIJ", "K"}));
  std::string many;
  for (int i = 0; i < 100; ++i) many += "v ";
  EXPECT_EQ(headerToNames(many).size(), 64u);
  EXPECT_EQ(splitHeader(many).complete, 100);

  // A cut at 50 bytes never splits a UTF-8 character ("\xC3\xA9" is one).
  // Bytes that are no UTF-8 are Latin-1: "\xA9" is the copyright sign,
  // "\xC2\xA9" in UTF-8, so two of them after 49 letters leave no room.
  const std::string e = "\xC3\xA9";
  const HeaderNames utf = splitHeader(std::string(49, 'a') + e + " " + std::string(48, 'b') + e +
                                      " " + std::string(49, 'c') + "\xA9\xA9 Z");
  EXPECT_EQ(trimmed(utf.names),
            (Names{std::string(49, 'a'), std::string(48, 'b') + e, std::string(49, 'c'), "Z"}));
  EXPECT_EQ(trimmed(utf.cutInsideCharacter), (Names{std::string(49, 'a'), std::string(49, 'c')}));
  EXPECT_EQ(trimmed(utf.readAsLatin1), (Names{std::string(49, 'c')}));
}

// Which names are UTF-8 already: the decoding's edges, by the standard's
// table of well-formed sequences.
TEST(HeaderToNames, Latin1NamesAreConvertedAndUtf8NamesKept) {
  EXPECT_TRUE(isUtf8("plain"));
  EXPECT_TRUE(isUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));  // e acute, euro, an emoji
  EXPECT_FALSE(isUtf8("\xE9"));                                 // Latin-1 e acute
  EXPECT_FALSE(isUtf8("\xC0\xAF"));                             // overlong "/"
  EXPECT_FALSE(isUtf8("\xED\xA0\x80"));                         // a surrogate
  EXPECT_FALSE(isUtf8("\xF4\x90\x80\x80"));                     // beyond U+10FFFF
  EXPECT_FALSE(isUtf8("\xC3"));
  EXPECT_TRUE(isUtf8("ab\xC3", true));  // cut short by the end of what was kept
  EXPECT_EQ(latin1ToUtf8("T\xE9mp\xB5\xFF"), "T\xC3\xA9mp\xC2\xB5\xC3\xBF");

  const HeaderNames h = splitHeader("Temp\xE9rature Druck \xB5m " + std::string("Gr\xC3\xB6\xC3\x9F"
                                                                                "e"));
  EXPECT_EQ(trimmed(h.names), (Names{"Temp\xC3\xA9rature", "Druck", "\xC2\xB5m",
                                     "Gr\xC3\xB6\xC3\x9F"
                                     "e"}));
  EXPECT_EQ(trimmed(h.readAsLatin1), (Names{"Temp\xC3\xA9rature", "\xC2\xB5m"}));

  // CSV cells: tabs and line ends become blanks, an empty cell keeps its
  // place, Latin-1 is converted as in a free-form header.
  const HeaderNames c = namesFromCells({"a\tb", "", "x\r\ny", "\xE9"});
  EXPECT_EQ(trimmed(c.names), (Names{"a b", "(column 2)", "x  y", "\xC3\xA9"}));
  EXPECT_EQ(c.complete, 4);
  EXPECT_EQ(namesFromCells({"a", "b", "c"}, 2).names.size(), 2u);
}

}  // namespace
}  // namespace tavel::io
