// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/workbook.h"

#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <utility>

#include "io/csv_reader.h"
#include "platform/file_units.h"
#include "platform/termination_cleanup.h"

namespace tavel::io {
namespace {

constexpr std::string_view kOdsMimeType = "application/vnd.oasis.opendocument.spreadsheet";
// The widest sheet either program makes (XFD); cells beyond are not read.
constexpr std::size_t kMaxColumns = 16384;

bool endsWithLetters(std::string_view name, std::string_view end) {
  return name.size() >= end.size() && sameLetters(name.substr(name.size() - end.size()), end);
}

bool isOdsName(std::string_view name) { return endsWithLetters(name, ".ods"); }

// Element and attribute names without their namespace prefix: writers are
// free to choose prefixes ("x:sheet"), the local names are fixed.
std::string_view localName(const char* name) {
  const std::string_view n(name);
  const std::size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node childNamed(pugi::xml_node node, std::string_view local) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c.name()) == local) return c;
  return {};
}

template <typename F>
void forChildren(pugi::xml_node node, std::string_view local, F&& f) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c.name()) == local) f(c);
}

// An attribute by prefix and local name ("r:id"), or by local name alone
// when prefix is empty and the attribute has none.
pugi::xml_attribute attributeNamed(pugi::xml_node node, std::string_view local,
                                   bool prefixed = false) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    const std::string_view n(a.name());
    const bool hasPrefix = n.find(':') != std::string_view::npos;
    if (hasPrefix == prefixed && localName(a.name()) == local) return a;
  }
  return {};
}

// ---- the archive

class Archive {
 public:
  ~Archive() {
    if (zip_ != nullptr) zip_discard(zip_);
  }

  bool open(const std::string& path, std::string& why) {
    int error = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (zip_ != nullptr) return true;
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    why = error == ZIP_ER_NOZIP || error == ZIP_ER_INCONS
              ? "it is not a workbook (not a zip archive, or a damaged one)"
              : std::string("its archive cannot be read (") + zip_error_strerror(&e) + ")";
    zip_error_fini(&e);
    return false;
  }

  bool has(const std::string& name) const { return zip_name_locate(zip_, name.c_str(), 0) >= 0; }

  // The whole of an entry, at most limit bytes uncompressed.
  bool read(const std::string& name, std::string& bytes, std::uint64_t limit, std::string& why) {
    const zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
    if (index < 0) {
      why = "it is not a workbook: it has no " + name;
      return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        (st.valid & ZIP_STAT_SIZE) == 0) {
      why = "its part " + name + " cannot be read";
      return false;
    }
    if (st.size > limit) {
      why = tooLarge(name, limit);
      return false;
    }
    zip_file_t* file = zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0);
    if (file == nullptr) {
      why = "its part " + name + " cannot be read (" + zip_strerror(zip_) + ")";
      return false;
    }
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(st.size));
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    char chunk[kChunk];
    bool ok = true;
    for (;;) {
      const zip_int64_t got = zip_fread(file, chunk, kChunk);
      if (got < 0) {
        why = std::string("its part ") + name + " is damaged (" + zip_file_strerror(file) + ")";
        ok = false;
        break;
      }
      if (got == 0) break;
      if (bytes.size() + static_cast<std::size_t>(got) > limit) {
        why = tooLarge(name, limit);
        ok = false;
        break;
      }
      bytes.append(chunk, static_cast<std::size_t>(got));
    }
    zip_fclose(file);
    return ok;
  }

 private:
  static std::string tooLarge(const std::string& name, std::uint64_t limit) {
    return "its part " + name + " is larger than " + std::to_string(limit) +
           " bytes uncompressed, the most a sheet may hold";
  }
  zip_t* zip_ = nullptr;
};

bool parseXml(std::string& bytes, pugi::xml_document& doc, const std::string& name,
              std::string& why) {
  // No entity or DTD expansion: pugixml never loads anything the part names.
  const pugi::xml_parse_result r = doc.load_buffer_inplace(
      bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
      pugi::encoding_auto);
  if (!r) {
    why = "its part " + name + " is not well-formed XML (" + r.description() + ")";
    return false;
  }
  return true;
}

bool readXml(Archive& archive, const std::string& name, std::string& bytes, pugi::xml_document& doc,
             const WorkbookLimits& limits, std::string& why) {
  return archive.read(name, bytes, limits.maxPartBytes, why) && parseXml(bytes, doc, name, why);
}

// ---- cells

struct Cell {
  std::size_t column = 0;  // 0-based
  std::string text;        // as it goes into the CSV line (quoted when text)
  std::size_t span = 1;    // columns a merged cell covers
};
using Row = std::vector<Cell>;
// Called for every row that holds a cell, in order, with the number of equal
// rows it stands for (an ODS row repeated); false stops the walk.
using RowSink = std::function<bool(std::uint64_t row, const Row& cells, std::uint64_t repeat)>;

std::string quotedText(std::string_view text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"')
      q += "\"\"";
    else if (c == '\n' || c == '\r' || c == '\t')
      q += ' ';  // a data row is one line
    else
      q += c;
  }
  q += '"';
  return q;
}

std::string shortestDigits(double value) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

bool parseDouble(std::string_view text, double& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(value);
}

// A stored number as its CSV cell; text that is no number stays text.
std::string numberCell(std::string_view stored) {
  if (stored.empty()) return {};
  double v = 0;
  return parseDouble(stored, v) ? shortestDigits(v) : quotedText(stored);
}

// The civil date of a day count from 1970-01-01 (proleptic Gregorian).
void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

void appendTwo(std::string& s, long long v) {
  s += static_cast<char>('0' + v / 10 % 10);
  s += static_cast<char>('0' + v % 10);
}

// A spreadsheet date serial as an ISO date: days since 1899-12-30 (serial 1
// is 1900-01-01, and serials below 60 count from 1899-12-31, since the 1900
// system holds a 29 February 1900 that never was), or since 1904-01-01.
std::string isoFromSerial(double serial, bool system1904) {
  if (!(serial >= 0) || serial > 2958465.0) return shortestDigits(serial);  // beyond 9999-12-31
  long long days = static_cast<long long>(std::floor(serial));
  long long ms = std::llround((serial - static_cast<double>(days)) * 86400000.0);
  if (ms >= 86400000) {
    ++days;
    ms -= 86400000;
  }
  long long fromEpoch = 0;  // days from 1970-01-01
  if (system1904) {
    fromEpoch = days - 24107;  // 1904-01-01
  } else if (days == 60) {
    return quotedText("1900-02-29");  // no such day: text, as the cell would show it
  } else {
    fromEpoch = days < 60 ? days - 25568 : days - 25569;
  }
  long long y = 0;
  unsigned m = 0, d = 0;
  civilFromDays(fromEpoch, y, m, d);
  std::string s = std::to_string(y) + "-";
  appendTwo(s, m);
  s += '-';
  appendTwo(s, d);
  if (ms == 0) return s;
  s += ' ';
  appendTwo(s, ms / 3600000);
  s += ':';
  appendTwo(s, ms / 60000 % 60);
  s += ':';
  appendTwo(s, ms / 1000 % 60);
  if (ms % 1000 != 0) {
    s += '.';
    s += static_cast<char>('0' + ms % 1000 / 100);
    appendTwo(s, ms % 100);
  }
  return s;
}

// Whether a number format shows a date: one of the built-in date formats,
// or a format code that shows a day or a year outside quoted text,
// escapes and [brackets]. Times of day alone stay numbers (fractions of a
// day), as they carry no date.
bool isDateFormatCode(std::string_view code) {
  bool inQuote = false, inBracket = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (inQuote) {
      inQuote = c != '"';
    } else if (inBracket) {
      inBracket = c != ']';
    } else if (c == '"') {
      inQuote = true;
    } else if (c == '[') {
      inBracket = true;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // the next character is shown or padded, not a code
    } else if (c == ';') {
      break;  // the first section decides
    } else if (c == 'd' || c == 'D' || c == 'y' || c == 'Y') {
      return true;
    }
  }
  return false;
}

bool isBuiltinDateFormat(long id) {
  return (id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 36) || (id >= 50 && id <= 58);
}

// ---- paths inside the package

// A relationship's target as an entry name: relative to the folder of the
// part that names it, or from the package root when it starts with '/'.
// Climbing out ("..") and anything that is no part name is refused.
bool partName(std::string_view folder, std::string_view target, std::string& name,
              std::string& why) {
  const auto refuse = [&] {
    why = "it refers to \"" + std::string(target) + "\", which is no part of the workbook";
    return false;
  };
  if (target.empty() || target.find('\\') != std::string_view::npos ||
      target.find(':') != std::string_view::npos)
    return refuse();
  std::string joined;
  if (target.front() == '/')
    joined = std::string(target.substr(1));
  else
    joined = std::string(folder) + std::string(target);
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t end = std::min(joined.find('/', start), joined.size());
    const std::string_view segment = std::string_view(joined).substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return refuse();
    start = end + 1;
  }
  name = std::move(joined);
  return true;
}

std::string folderOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? "" : part.substr(0, slash + 1);
}

std::string relsOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  const std::string file = slash == std::string::npos ? part : part.substr(slash + 1);
  return folderOf(part) + "_rels/" + file + ".rels";
}

struct Relationship {
  std::string type;  // the last segment of the type URI ("worksheet")
  std::string target;
  bool external = false;
};

bool readRelationships(Archive& archive, const std::string& part, const WorkbookLimits& limits,
                       std::map<std::string, Relationship>& rels, std::string& why) {
  const std::string name = relsOf(part);
  if (!archive.has(name)) return true;
  std::string bytes;
  pugi::xml_document doc;
  if (!readXml(archive, name, bytes, doc, limits, why)) return false;
  forChildren(childNamed(doc, "Relationships"), "Relationship", [&](pugi::xml_node r) {
    Relationship rel;
    const std::string_view type = r.attribute("Type").value();
    rel.type = std::string(type.substr(type.rfind('/') + 1));
    rel.target = r.attribute("Target").value();
    rel.external = std::string_view(r.attribute("TargetMode").value()) == "External";
    rels[r.attribute("Id").value()] = std::move(rel);
  });
  return true;
}

// ---- Office Open XML

struct XlsxSheet {
  std::string name;
  std::string relId;
};

class XlsxBook {
 public:
  XlsxBook(Archive& archive, const WorkbookLimits& limits) : archive_(archive), limits_(limits) {}

  bool openBook(std::string& why) {
    // The package's own relationships name the workbook part.
    std::map<std::string, Relationship> root;
    if (!readRelationships(archive_, "", limits_, root, why)) return false;
    workbookPart_ = "xl/workbook.xml";
    for (const auto& [id, rel] : root)
      if (rel.type == "officeDocument" && !rel.external &&
          !partName("", rel.target, workbookPart_, why))
        return false;
    std::string bytes;
    pugi::xml_document doc;
    if (!readXml(archive_, workbookPart_, bytes, doc, limits_, why)) return false;
    const pugi::xml_node book = childNamed(doc, "workbook");
    const std::string_view d1904 =
        attributeNamed(childNamed(book, "workbookPr"), "date1904").value();
    date1904_ = d1904 == "1" || d1904 == "true";
    forChildren(childNamed(book, "sheets"), "sheet", [&](pugi::xml_node s) {
      sheets_.push_back({s.attribute("name").value(), attributeNamed(s, "id", true).value()});
    });
    if (sheets_.empty()) {
      why = "the workbook holds no sheets";
      return false;
    }
    return readRelationships(archive_, workbookPart_, limits_, rels_, why);
  }

  const std::vector<XlsxSheet>& sheets() const { return sheets_; }

  bool walk(std::size_t sheet, const RowSink& sink, std::string& why) {
    const auto rel = rels_.find(sheets_[sheet].relId);
    if (rel == rels_.end() || rel->second.external) {
      why = "its sheet '" + sheets_[sheet].name + "' is not in the workbook";
      return false;
    }
    std::string sheetPart;
    if (!partName(folderOf(workbookPart_), rel->second.target, sheetPart, why)) return false;
    if (!readStrings(why) || !readStyles(why)) return false;
    // The sheet is walked twice (the names' row first): parsed once.
    if (parsedSheet_ != sheet) {
      parsedSheet_ = std::numeric_limits<std::size_t>::max();
      if (!readXml(archive_, sheetPart, sheetBytes_, sheetDoc_, limits_, why)) return false;
      parsedSheet_ = sheet;
    }
    const pugi::xml_node ws = childNamed(sheetDoc_, "worksheet");
    const std::map<std::pair<std::uint64_t, std::size_t>, std::size_t> merged = merges(ws);

    std::uint64_t rowNumber = 0;
    Row cells;
    bool ok = true;
    forChildren(childNamed(ws, "sheetData"), "row", [&](pugi::xml_node r) {
      if (!ok) return;
      const std::uint64_t given = r.attribute("r").as_ullong(0);
      rowNumber = given > rowNumber ? given : rowNumber + 1;
      cells.clear();
      std::size_t column = 0;
      forChildren(r, "c", [&](pugi::xml_node c) {
        if (!ok) return;
        std::uint64_t refRow = 0;
        std::size_t refColumn = 0;
        if (cellReference(c.attribute("r").value(), refRow, refColumn)) column = refColumn;
        if (column >= kMaxColumns) return;
        std::string text;
        if (!cellText(c, text, why)) {
          ok = false;
          return;
        }
        if (!text.empty()) {
          const auto m = merged.find({rowNumber, column});
          cells.push_back({column, std::move(text), m == merged.end() ? 1 : m->second});
        }
        ++column;
      });
      if (ok && !cells.empty()) ok = sink(rowNumber, cells, 1);
    });
    return ok;
  }

 private:
  // "BC12" as row 12 and column 54 (0-based); false when it is no reference.
  static bool cellReference(std::string_view ref, std::uint64_t& row, std::size_t& column) {
    std::size_t i = 0, col = 0;
    while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < 4)
      col = col * 26 + static_cast<std::size_t>(ref[i++] - 'A' + 1);
    if (i == 0 || i == ref.size()) return false;
    std::uint64_t r = 0;
    const auto res = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
    if (res.ec != std::errc() || res.ptr != ref.data() + ref.size()) return false;
    row = r;
    column = col - 1;
    return true;
  }

  std::map<std::pair<std::uint64_t, std::size_t>, std::size_t> merges(pugi::xml_node ws) {
    std::map<std::pair<std::uint64_t, std::size_t>, std::size_t> m;
    forChildren(childNamed(ws, "mergeCells"), "mergeCell", [&](pugi::xml_node mc) {
      const std::string_view ref = mc.attribute("ref").value();
      const std::size_t colon = ref.find(':');
      std::uint64_t r1 = 0, r2 = 0;
      std::size_t c1 = 0, c2 = 0;
      if (colon == std::string_view::npos || !cellReference(ref.substr(0, colon), r1, c1) ||
          !cellReference(ref.substr(colon + 1), r2, c2) || c2 < c1)
        return;
      m[{r1, c1}] = c2 - c1 + 1;
    });
    return m;
  }

  // The text of a string item: its runs' texts, phonetic hints left out.
  static std::string itemText(pugi::xml_node si) {
    std::string text;
    for (pugi::xml_node c = si.first_child(); c; c = c.next_sibling()) {
      const std::string_view n = localName(c.name());
      if (n == "t")
        text += c.text().get();
      else if (n == "r")
        text += childNamed(c, "t").text().get();
    }
    return text;
  }

  bool readStrings(std::string& why) {
    if (stringsRead_) return true;
    stringsRead_ = true;
    for (const auto& [id, rel] : rels_) {
      if (rel.type != "sharedStrings" || rel.external) continue;
      std::string part, bytes;
      pugi::xml_document doc;
      if (!partName(folderOf(workbookPart_), rel.target, part, why) ||
          !readXml(archive_, part, bytes, doc, limits_, why))
        return false;
      forChildren(childNamed(doc, "sst"), "si",
                  [&](pugi::xml_node si) { strings_.push_back(itemText(si)); });
    }
    return true;
  }

  bool readStyles(std::string& why) {
    if (stylesRead_) return true;
    stylesRead_ = true;
    for (const auto& [id, rel] : rels_) {
      if (rel.type != "styles" || rel.external) continue;
      std::string part, bytes;
      pugi::xml_document doc;
      if (!partName(folderOf(workbookPart_), rel.target, part, why) ||
          !readXml(archive_, part, bytes, doc, limits_, why))
        return false;
      const pugi::xml_node ss = childNamed(doc, "styleSheet");
      std::map<long, bool> customDate;
      forChildren(childNamed(ss, "numFmts"), "numFmt", [&](pugi::xml_node f) {
        customDate[f.attribute("numFmtId").as_int(-1)] =
            isDateFormatCode(f.attribute("formatCode").value());
      });
      forChildren(childNamed(ss, "cellXfs"), "xf", [&](pugi::xml_node xf) {
        const long id = xf.attribute("numFmtId").as_int(0);
        const auto custom = customDate.find(id);
        dateStyle_.push_back(custom != customDate.end() ? custom->second : isBuiltinDateFormat(id));
      });
    }
    return true;
  }

  bool cellText(pugi::xml_node c, std::string& text, std::string& why) {
    const std::string_view type = c.attribute("t").value();
    const pugi::xml_node v = childNamed(c, "v");
    const std::string_view value = v.text().get();
    if (type == "inlineStr") {
      const std::string t = itemText(childNamed(c, "is"));
      if (!t.empty()) text = quotedText(t);
    } else if (type == "s") {
      if (value.empty()) return true;
      const unsigned long long index = v.text().as_ullong(~0ULL);
      if (index >= strings_.size()) {
        why = "a cell refers to a shared string the workbook does not hold";
        return false;
      }
      if (!strings_[index].empty()) text = quotedText(strings_[index]);
    } else if (type == "str") {
      if (!value.empty()) text = quotedText(value);
    } else if (type == "b") {
      if (!value.empty()) text = quotedText(value == "0" ? "FALSE" : "TRUE");
    } else if (type == "e") {
      // An error value (#N/A, #DIV/0!) is no value: a missing cell.
    } else if (type == "d") {
      text = std::string(value);
    } else if (!value.empty()) {
      const std::size_t style = c.attribute("s").as_uint(0);
      double serial = 0;
      if (style < dateStyle_.size() && dateStyle_[style] && parseDouble(value, serial))
        text = isoFromSerial(serial, date1904_);
      else
        text = numberCell(value);
    }
    return true;
  }

  Archive& archive_;
  const WorkbookLimits& limits_;
  std::string workbookPart_;
  std::vector<XlsxSheet> sheets_;
  std::map<std::string, Relationship> rels_;
  bool date1904_ = false;
  bool stringsRead_ = false, stylesRead_ = false;
  std::vector<std::string> strings_;
  std::vector<bool> dateStyle_;
  std::size_t parsedSheet_ = std::numeric_limits<std::size_t>::max();
  std::string sheetBytes_;
  pugi::xml_document sheetDoc_;
};

// ---- OpenDocument

// The text of a paragraph with its spaces, tabs and line breaks.
void appendOdsText(pugi::xml_node node, std::string& text) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
      text += c.value();
      continue;
    }
    if (c.type() != pugi::node_element) continue;
    const std::string_view n = localName(c.name());
    if (n == "s")
      text.append(std::min<unsigned>(attributeNamed(c, "c", true).as_uint(1), 1024), ' ');
    else if (n == "tab" || n == "line-break")
      text += ' ';
    else if (n != "annotation")
      appendOdsText(c, text);
  }
}

// "PT12H30M15.5S" as a fraction of a day; false for anything else.
bool durationDays(std::string_view d, double& days) {
  if (d.substr(0, 2) != "PT") return false;
  d.remove_prefix(2);
  double seconds = 0;
  while (!d.empty()) {
    std::size_t i = 0;
    while (i < d.size() && ((d[i] >= '0' && d[i] <= '9') || d[i] == '.')) ++i;
    double v = 0;
    if (i == 0 || i == d.size() || !parseDouble(d.substr(0, i), v)) return false;
    const char unit = d[i];
    if (unit == 'H')
      seconds += v * 3600;
    else if (unit == 'M')
      seconds += v * 60;
    else if (unit == 'S')
      seconds += v;
    else
      return false;
    d.remove_prefix(i + 1);
  }
  days = seconds / 86400.0;
  return true;
}

std::string odsCellText(pugi::xml_node c) {
  const std::string_view type = attributeNamed(c, "value-type", true).value();
  if (type == "float" || type == "percentage" || type == "currency")
    return numberCell(attributeNamed(c, "value", true).value());
  if (type == "date") return std::string(attributeNamed(c, "date-value", true).value());
  if (type == "time") {
    double days = 0;
    if (durationDays(attributeNamed(c, "time-value", true).value(), days))
      return shortestDigits(days);
  }
  if (type == "boolean") {
    const std::string_view b = attributeNamed(c, "boolean-value", true).value();
    return quotedText(b == "true" || b == "1" ? "TRUE" : "FALSE");
  }
  // Strings, and cells without a value type that still show a text.
  const std::string_view given = attributeNamed(c, "string-value", true).value();
  if (!given.empty()) return quotedText(given);
  std::string text;
  bool first = true;
  forChildren(c, "p", [&](pugi::xml_node p) {
    if (!first) text += ' ';
    first = false;
    appendOdsText(p, text);
  });
  return text.empty() ? text : quotedText(text);
}

class OdsBook {
 public:
  OdsBook(Archive& archive, const WorkbookLimits& limits) : archive_(archive), limits_(limits) {}

  bool openBook(std::string& why) {
    if (archive_.has("mimetype")) {
      std::string mime;
      if (!archive_.read("mimetype", mime, 4096, why)) return false;
      if (mime != kOdsMimeType) {
        why = "it is not a spreadsheet document (its type is " + mime + ")";
        return false;
      }
    }
    if (!readXml(archive_, "content.xml", bytes_, doc_, limits_, why)) return false;
    const pugi::xml_node sheet =
        childNamed(childNamed(childNamed(doc_, "document-content"), "body"), "spreadsheet");
    forChildren(sheet, "table", [&](pugi::xml_node t) {
      tables_.push_back(t);
      names_.push_back(attributeNamed(t, "name", true).value());
    });
    if (tables_.empty()) {
      why = "the workbook holds no sheets";
      return false;
    }
    return true;
  }

  const std::vector<std::string>& names() const { return names_; }

  bool walk(std::size_t sheet, const RowSink& sink, std::string&) {
    std::uint64_t row = 0;
    return walkRows(tables_[sheet], sink, row);
  }

 private:
  // Rows may sit in header-row, row-group and rows elements.
  bool walkRows(pugi::xml_node parent, const RowSink& sink, std::uint64_t& row) {
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
      if (n.type() != pugi::node_element) continue;
      const std::string_view name = localName(n.name());
      if (name == "table-header-rows" || name == "table-row-group" || name == "table-rows") {
        if (!walkRows(n, sink, row)) return false;
        continue;
      }
      if (name != "table-row") continue;
      const std::uint64_t repeat =
          std::max<std::uint64_t>(attributeNamed(n, "number-rows-repeated", true).as_ullong(1), 1);
      Row cells = rowCells(n);
      if (cells.empty()) {
        row += repeat;
        continue;
      }
      if (!sink(row + 1, cells, repeat)) return false;
      row += repeat;
    }
    return true;
  }

  static Row rowCells(pugi::xml_node r) {
    Row cells;
    std::size_t column = 0;
    for (pugi::xml_node c = r.first_child(); c && column < kMaxColumns; c = c.next_sibling()) {
      if (c.type() != pugi::node_element) continue;
      const std::string_view name = localName(c.name());
      if (name != "table-cell" && name != "covered-table-cell") continue;
      const std::size_t repeat = std::clamp<std::size_t>(
          attributeNamed(c, "number-columns-repeated", true).as_uint(1), 1, kMaxColumns);
      const std::string text = name == "table-cell" ? odsCellText(c) : std::string();
      if (text.empty()) {
        column += repeat;
        continue;
      }
      const std::size_t span =
          std::max<std::size_t>(attributeNamed(c, "number-columns-spanned", true).as_uint(1), 1);
      for (std::size_t k = 0; k < repeat && column < kMaxColumns; ++k)
        cells.push_back({column++, text, span});
    }
    return cells;
  }

  Archive& archive_;
  const WorkbookLimits& limits_;
  std::string bytes_;
  pugi::xml_document doc_;
  std::vector<pugi::xml_node> tables_;
  std::vector<std::string> names_;
};

// ---- the sheet as CSV

// A workbook of either kind behind one face.
class Book {
 public:
  Book(const std::string& path, const WorkbookLimits& limits)
      : path_(path), limits_(limits), ods_(isOdsName(path)) {}

  bool open(std::string& why) {
    if (!archive_.open(path_, why)) return false;
    if (ods_) {
      odsBook_ = std::make_unique<OdsBook>(archive_, limits_);
      if (!odsBook_->openBook(why)) return false;
      names_ = odsBook_->names();
    } else {
      xlsxBook_ = std::make_unique<XlsxBook>(archive_, limits_);
      if (!xlsxBook_->openBook(why)) return false;
      for (const XlsxSheet& s : xlsxBook_->sheets()) names_.push_back(s.name);
    }
    return true;
  }
  const std::vector<std::string>& names() const { return names_; }
  bool walk(std::size_t sheet, const RowSink& sink, std::string& why) {
    return ods_ ? odsBook_->walk(sheet, sink, why) : xlsxBook_->walk(sheet, sink, why);
  }

 private:
  std::string path_;
  const WorkbookLimits& limits_;
  bool ods_;
  Archive archive_;
  std::unique_ptr<OdsBook> odsBook_;
  std::unique_ptr<XlsxBook> xlsxBook_;
  std::vector<std::string> names_;
};

bool chooseSheet(const std::vector<std::string>& names, std::string_view asked, std::size_t& sheet,
                 std::string& why) {
  if (asked.empty()) {
    sheet = 0;
    return true;
  }
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == asked) {
      sheet = i;
      return true;
    }
  std::size_t number = 0;
  const auto r = std::from_chars(asked.data(), asked.data() + asked.size(), number);
  if (r.ec == std::errc() && r.ptr == asked.data() + asked.size() && number >= 1 &&
      number <= names.size()) {
    sheet = number - 1;
    return true;
  }
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "'" : ", '") + n + "'";
  why = "it has no sheet '" + std::string(asked) + "' (its sheets: " + list + ")";
  return false;
}

std::string tooManyRows(const std::string& sheet, const WorkbookLimits& limits) {
  return "its sheet '" + sheet + "' makes more than " + std::to_string(limits.maxPartBytes) +
         " bytes of rows, the most a sheet may hold";
}

// Leading rows that hold nothing but titles merged over several columns.
bool onlyMergedTitles(const Row& cells) {
  return std::all_of(cells.begin(), cells.end(), [](const Cell& c) { return c.span > 1; });
}

}  // namespace

bool isWorkbookFileName(std::string_view name) {
  return endsWithLetters(name, ".xlsx") || endsWithLetters(name, ".xlsm") || isOdsName(name);
}

bool workbookSheetNames(const std::string& path, std::vector<std::string>& names, std::string& why,
                        const WorkbookLimits& limits) {
  Book book(path, limits);
  if (!book.open(why)) return false;
  names = book.names();
  return true;
}

bool writeSheetAsCsv(const std::string& path, std::string_view asked,
                     const std::function<bool(std::string_view)>& sink, SheetRead& read,
                     std::string& why, const WorkbookLimits& limits) {
  Book book(path, limits);
  std::size_t sheet = 0;
  if (!book.open(why) || !chooseSheet(book.names(), asked, sheet, why)) return false;
  read.sheetName = book.names()[sheet];
  read.sheetCount = static_cast<int>(book.names().size());
  read.sheetNumber = static_cast<int>(sheet) + 1;
  read.namesRow = 0;

  // First pass: the row of names and the first column that holds a cell.
  std::size_t firstColumn = kMaxColumns;
  if (!book.walk(
          sheet,
          [&](std::uint64_t row, const Row& cells, std::uint64_t) {
            if (read.namesRow == 0 && onlyMergedTitles(cells)) return true;
            if (read.namesRow == 0) read.namesRow = row;
            firstColumn = std::min(firstColumn, cells.front().column);
            return true;
          },
          why))
    return false;
  if (read.namesRow == 0) return true;  // no rows: an empty file

  // Second pass: the lines, empty rows between rows kept as empty lines.
  std::uint64_t lastRow = read.namesRow - 1;
  std::uint64_t written = 0;
  std::string line;
  const bool ok = book.walk(
      sheet,
      [&](std::uint64_t row, const Row& cells, std::uint64_t repeat) {
        if (row < read.namesRow) return true;
        const std::uint64_t budget = limits.maxPartBytes - std::min(written, limits.maxPartBytes);
        const std::uint64_t gap = row - lastRow - 1;
        if (gap > budget) {
          why = tooManyRows(read.sheetName, limits);
          return false;
        }
        line.clear();
        std::size_t commas = 0, last = 0;
        bool any = false;
        for (const Cell& c : cells) {
          // A cell given twice (or out of order) counts once, where it first was.
          if (c.column < firstColumn || (any && c.column <= last)) continue;
          const std::size_t target = c.column - firstColumn;
          line.append(target - commas, ',');
          commas = target;
          last = c.column;
          any = true;
          line += c.text;
        }
        line += '\n';
        // Repeated rows are counted before any is written: a small file
        // that repeats a row a billion times is refused at once.
        if (repeat > (budget - gap) / line.size()) {
          why = tooManyRows(read.sheetName, limits);
          return false;
        }
        written += gap + repeat * line.size();
        lastRow = row + repeat - 1;
        bool put = sink(std::string(static_cast<std::size_t>(gap), '\n'));
        for (std::uint64_t k = 0; put && k < repeat; ++k) put = sink(line);
        if (!put) why = "its sheet could not be copied for reading";
        return put;
      },
      why);
  return ok;
}

bool openWorkbookForReading(platform::Runtime& runtime, int unit, const std::string& path,
                            std::string_view asked, SheetRead& read, std::string& why) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  std::string copy;
  const int fd = platform::createUniqueFile(folder + "/tavel-sheet-", ".csv", copy);
  if (fd < 0) {
    why = "no temporary file for its sheet can be made in " + folder;
    return false;
  }
  const int slot = platform::removeOnTermination(copy, platform::CleanupKind::File);
  std::string buffer;
  const auto flush = [&] {
    std::size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t put = ::write(fd, buffer.data() + done, buffer.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<std::size_t>(put);
    }
    buffer.clear();
    return true;
  };
  bool ok = writeSheetAsCsv(
      path, asked,
      [&](std::string_view line) {
        buffer += line;
        return buffer.size() < (std::size_t{1} << 20) || flush();
      },
      read, why);
  if (ok && !flush()) {
    ok = false;
    why = "its sheet could not be copied for reading in " + folder;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    why = "its sheet could not be copied for reading in " + folder;
  }
  if (ok && !runtime.openFileForReading(unit, copy)) {
    ok = false;
    why = "its sheet's copy in " + folder + " cannot be opened";
  }
  // The unit holds the file open; the name is no longer needed.
  ::unlink(copy.c_str());
  platform::forgetOnTermination(slot);
  return ok;
}

std::string sheetReadingLine(const SheetRead& read) {
  std::string line = " read sheet '" + read.sheetName + "'";
  if (read.sheetCount > 1)
    line += " (" + std::to_string(read.sheetNumber) + " of " + std::to_string(read.sheetCount) +
            " sheets)";
  if (read.namesRow > 1) line += ", the names in its row " + std::to_string(read.namesRow);
  return line;
}

}  // namespace tavel::io
