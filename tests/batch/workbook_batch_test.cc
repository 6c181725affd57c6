// SPDX-License-Identifier: GPL-3.0-or-later
// Workbooks as data files: an .xlsx made here with libxlsxwriter and an .ods
// written here as its XML and zipped with libzip give the analysis of the
// same cells saved as CSV, byte for byte; damaged, hostile and empty
// workbooks are refused with their reason.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_front.h"
#include "io/workbook.h"

namespace {

namespace fs = std::filesystem;
using tavel::batch::BatchIo;
using tavel::batch::runBatch;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string readWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The zip archive of named parts, stored as given; an empty text for a
// part's name stands for a part that is a folder.
bool zipParts(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& parts) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (z == nullptr) return false;
  for (const auto& [name, bytes] : parts) {
    // libzip copies the bytes when the archive is closed; keep them alive.
    zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    if (s == nullptr || zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE) < 0) {
      zip_source_free(s);
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

// The rows of the analysis: T, P, a site label, a date, an empty cell in row
// 6 (the row is skipped) and a response.
struct Sample {
  double t, p;
  const char* site;
  int year, month, day, hour;
  double y;
  bool pMissing = false;
};
const std::vector<Sample> kRows = {
    {300.5, 0.1, "north", 2024, 1, 5, 0, 12.25},
    {310.25, 1234.5678, "south", 2024, 2, 29, 12, 14.5},
    {320.125, 3.14159265358979, "north", 2023, 12, 31, 6, 15.75},
    {330, 1e-7, "east", 2024, 3, 15, 0, 18.0},
    {340.75, 2.5, "south", 2024, 7, 1, 18, 19.125},
    {350, 0, "east", 2024, 8, 2, 0, 21.5, true},
    {360.5, 7.75, "north", 2025, 1, 1, 0, 22.0},
    {370.25, 9.5, "east", 2024, 11, 30, 9, 24.75},
    {380, 11.125, "south", 2024, 5, 5, 0, 25.5},
    {390.5, 13.5, "north", 2024, 6, 6, 3, 28.25},
};

std::string two(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
std::string isoDate(const Sample& s) {
  std::string d = std::to_string(s.year) + "-" + two(s.month) + "-" + two(s.day);
  if (s.hour != 0) d += " " + two(s.hour) + ":00:00";
  return d;
}

// The same cells as CSV, numbers in the digits the workbooks store.
std::string referenceCsv() {
  const char* numbers[][3] = {{"300.5", "0.1", "12.25"},
                              {"310.25", "1234.5678", "14.5"},
                              {"320.125", "3.14159265358979", "15.75"},
                              {"330", "1e-07", "18"},
                              {"340.75", "2.5", "19.125"},
                              {"350", "", "21.5"},
                              {"360.5", "7.75", "22"},
                              {"370.25", "9.5", "24.75"},
                              {"380", "11.125", "25.5"},
                              {"390.5", "13.5", "28.25"}};
  std::string csv = "T,P,site,when,y\n";
  for (std::size_t i = 0; i < kRows.size(); ++i)
    csv += std::string(numbers[i][0]) + "," + numbers[i][1] + "," + kRows[i].site + "," +
           isoDate(kRows[i]) + "," + numbers[i][2] + "\n";
  return csv;
}

// The sheet "data" above, after a title merged over the columns and an
// empty row; a second sheet "other" whose first column is the response's
// double.
bool writeXlsx(const std::string& path) {
  lxw_workbook* wb = workbook_new(path.c_str());
  if (wb == nullptr) return false;
  lxw_format* dateFormat = workbook_add_format(wb);
  format_set_num_format(dateFormat, "yyyy-mm-dd hh:mm");
  lxw_worksheet* ws = workbook_add_worksheet(wb, "data");
  worksheet_merge_range(ws, 0, 0, 0, 4, "Rates measured in 2024", nullptr);
  const char* names[] = {"T", "P", "site", "when", "y"};
  for (int c = 0; c < 5; ++c)
    worksheet_write_string(ws, 2, static_cast<lxw_col_t>(c), names[c], nullptr);
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    const Sample& s = kRows[i];
    const auto r = static_cast<lxw_row_t>(i + 3);
    worksheet_write_number(ws, r, 0, s.t, nullptr);
    if (!s.pMissing) worksheet_write_number(ws, r, 1, s.p, nullptr);
    worksheet_write_string(ws, r, 2, s.site, nullptr);
    lxw_datetime when = {s.year,
                         static_cast<uint8_t>(s.month),
                         static_cast<uint8_t>(s.day),
                         static_cast<uint8_t>(s.hour),
                         0,
                         0};
    worksheet_write_datetime(ws, r, 3, &when, dateFormat);
    // The response as a formula: its cached value is what is read.
    worksheet_write_formula_num(ws, r, 4, "=1*1", nullptr, s.y);
  }
  lxw_worksheet* other = workbook_add_worksheet(wb, "other");
  worksheet_write_string(other, 0, 0, "a", nullptr);
  worksheet_write_string(other, 0, 1, "b", nullptr);
  for (int i = 1; i <= 8; ++i) {
    worksheet_write_number(other, static_cast<lxw_row_t>(i), 0, i * 1.5 + (i % 3), nullptr);
    worksheet_write_number(other, static_cast<lxw_row_t>(i), 1, i * 3.0, nullptr);
  }
  return workbook_close(wb) == LXW_NO_ERROR;
}

std::string odsDocument(const std::string& tables) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.3"><office:body><office:spreadsheet>)" +
         tables + "</office:spreadsheet></office:body></office:document-content>";
}

std::string odsText(const std::string& text) {
  return R"(<table:table-cell office:value-type="string"><text:p>)" + text +
         "</text:p></table:table-cell>";
}
std::string odsFloat(const std::string& value) {
  return R"(<table:table-cell office:value-type="float" office:value=")" + value +
         R"("><text:p>shown rounded</text:p></table:table-cell>)";
}

// The sheet as LibreOffice writes it: a merged title, an empty row, names
// in a header-rows group, an empty first column, repeated empty cells and a
// million repeated empty rows at the end.
std::string odsContent() {
  const char* numbers[][3] = {{"300.5", "0.1", "12.25"},
                              {"310.25", "1234.5678", "14.5"},
                              {"320.125", "3.14159265358979", "15.75"},
                              {"330", "1e-07", "18"},
                              {"340.75", "2.5", "19.125"},
                              {"350", "", "21.5"},
                              {"360.5", "7.75", "22"},
                              {"370.25", "9.5", "24.75"},
                              {"380", "11.125", "25.5"},
                              {"390.5", "13.5", "28.25"}};
  std::string t =
      R"(<table:table table:name="Sheet1"><table:table-column table:number-columns-repeated="6"/>)";
  t +=
      R"(<table:table-row><table:table-cell/><table:table-cell table:number-columns-spanned="5" office:value-type="string"><text:p>Rates<text:s text:c="2"/>2024</text:p></table:table-cell><table:covered-table-cell table:number-columns-repeated="4"/></table:table-row>)";
  t +=
      R"(<table:table-row><table:table-cell table:number-columns-repeated="1024"/></table:table-row>)";
  t +=
      "<table:table-header-rows><table:table-row><table:table-cell/>" + odsText("T") +
      odsText("P") + odsText("site") + odsText("when") + odsText("y") +
      R"(<table:table-cell table:number-columns-repeated="1018"/></table:table-row></table:table-header-rows>)";
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    const Sample& s = kRows[i];
    std::string date = std::to_string(s.year) + "-" + two(s.month) + "-" + two(s.day);
    if (s.hour != 0) date += "T" + two(s.hour) + ":00:00";
    t += "<table:table-row><table:table-cell/>" + odsFloat(numbers[i][0]) +
         (s.pMissing ? std::string("<table:table-cell/>") : odsFloat(numbers[i][1])) +
         odsText(s.site) + R"(<table:table-cell office:value-type="date" office:date-value=")" +
         date + R"("><text:p>x</text:p></table:table-cell>)" + odsFloat(numbers[i][2]) +
         R"(<table:table-cell table:number-columns-repeated="1018"/></table:table-row>)";
  }
  t +=
      R"(<table:table-row table:number-rows-repeated="1048560"><table:table-cell table:number-columns-repeated="1024"/></table:table-row></table:table>)";
  t += R"(<table:table table:name="Second"><table:table-row>)" + odsText("a") + odsText("b") +
       "</table:table-row></table:table>";
  return odsDocument(t);
}

const std::string kOdsMime = "application/vnd.oasis.opendocument.spreadsheet";

class Workbooks : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ =
        fs::temp_directory_path() / ("twb-" + std::to_string(::getpid())) / std::to_string(++count);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    fs::remove_all(dir_.parent_path());
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string file(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return path(name);
  }
  // tavel-batch with its results in the folder out.
  Outcome run(const std::string& out, std::vector<std::string> args) {
    Outcome r;
    fs::create_directories(dir_ / out);
    BatchIo io;
    io.out = [&r](std::string_view t) { r.out += t; };
    io.err = [&r](std::string_view t) { r.err += t; };
    args.insert(args.begin(), {"--outdir", path(out)});
    tavel::app::AppState state;
    r.status = runBatch(args, io, state);
    return r;
  }
  std::string sheet(const std::string& out) const { return readWhole(dir_ / out / "Taveltr.xls"); }

  fs::path dir_;
};

const std::vector<std::string> kAnalysis = {"--dep",   "y",    "--indep", "T",
                                            "--indep", "P",    "--indep", "site",
                                            "--indep", "when", "--flag",  "site=unorderable"};

std::vector<std::string> with(std::vector<std::string> args, const std::string& file) {
  args.push_back(file);
  return args;
}

TEST_F(Workbooks, XlsxAndOdsGiveTheAnalysisOfTheSameCellsAsCsv) {
  const Outcome csv = run("csv", with(kAnalysis, file("rates.csv", referenceCsv())));
  ASSERT_EQ(csv.status, 0) << csv.err;
  const std::string expected = sheet("csv");
  ASSERT_NE(expected.find("site"), std::string::npos);

  ASSERT_TRUE(writeXlsx(path("rates.xlsx")));
  const Outcome xlsx = run("xlsx", with(kAnalysis, path("rates.xlsx")));
  ASSERT_EQ(xlsx.status, 0) << xlsx.err;
  EXPECT_EQ(sheet("xlsx"), expected);
  EXPECT_NE(xlsx.out.find("read sheet 'data' (1 of 2 sheets), the names in its row 3"),
            std::string::npos)
      << xlsx.out;
  EXPECT_NE(xlsx.out.find("1 incomplete row skipped"), std::string::npos) << xlsx.out;

  ASSERT_TRUE(zipParts(path("rates.ods"), {{"mimetype", kOdsMime}, {"content.xml", odsContent()}}));
  const Outcome ods = run("ods", with(kAnalysis, path("rates.ods")));
  ASSERT_EQ(ods.status, 0) << ods.err;
  EXPECT_EQ(sheet("ods"), expected);

  // Nothing of the sheets' copies is left behind.
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

TEST_F(Workbooks, WorkbooksSavedByLibreOfficeGiveTheAnalysisOfTheTextFile) {
  const std::vector<std::string> analysis = {
      "--dep", "_ln_RATE", "--indep",  "T",      "--indep",
      "P",     "--indep",  "CATALYST", "--flag", "CATALYST=unorderable"};
  ASSERT_EQ(run("dat", with(analysis, TAVEL_EXAMPLE_PATH)).status, 0);
  const std::string dir = TAVEL_WORKBOOKS_DIR;
  for (const char* book : {"reaction_rates_libreoffice.ods", "reaction_rates_libreoffice.xlsx"}) {
    const Outcome r = run(book, with(analysis, dir + "/" + book));
    ASSERT_EQ(r.status, 0) << book << ": " << r.err;
    EXPECT_EQ(sheet(book), sheet("dat")) << book;
  }
}

TEST_F(Workbooks, SheetIsChosenByNameOrNumber) {
  ASSERT_TRUE(writeXlsx(path("two.xlsx")));
  const Outcome byName = run("name", {"--sheet", "other", "--dep", "b", path("two.xlsx")});
  ASSERT_EQ(byName.status, 0) << byName.err;
  const Outcome byNumber = run("number", {"--sheet", "2", "--dep", "b", path("two.xlsx")});
  ASSERT_EQ(byNumber.status, 0) << byNumber.err;
  EXPECT_EQ(sheet("name"), sheet("number"));
  EXPECT_EQ(sheet("name").substr(0, 12), "    8\t    1\t");

  const Outcome missing = run("missing", {"--sheet", "3", path("two.xlsx")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("it has no sheet '3' (its sheets: 'data', 'other')"),
            std::string::npos)
      << missing.err;
  const Outcome notBook = run("text", {"--sheet", "1", file("plain.dat", "a b\n1 2\n")});
  EXPECT_EQ(notBook.status, 2);
  EXPECT_NE(notBook.err.find("--sheet is for a workbook"), std::string::npos);
}

TEST_F(Workbooks, PredictNewDataReadsAWorkbookAsTheScanDoes) {
  ASSERT_TRUE(writeXlsx(path("rates.xlsx")));
  std::vector<std::string> fit = kAnalysis;
  fit.insert(fit.end(), {"--save-model", path("m.json"), path("rates.xlsx")});
  ASSERT_EQ(run("fit", fit).status, 0);
  file("rates.csv", referenceCsv());
  const Outcome fromCsv = run("csv", {"--model", path("m.json"), "--predict", path("rates.csv")});
  ASSERT_EQ(fromCsv.status, 0) << fromCsv.err;
  const Outcome fromBook =
      run("book", {"--model", path("m.json"), "--predict", path("rates.xlsx"), "--sheet", "data"});
  ASSERT_EQ(fromBook.status, 0) << fromBook.err;
  const std::string predicted = readWhole(dir_ / "csv" / "Tavelpr.xls");
  EXPECT_EQ(readWhole(dir_ / "book" / "Tavelpr.xls"), predicted);
  EXPECT_EQ(predicted.substr(0, 4), "Row\t");
  EXPECT_EQ(std::count(predicted.begin(), predicted.end(), '\n'), 11);  // titles and 10 rows
}

// The minimal parts of an .xlsx whose sheet relationship points at target.
std::vector<std::pair<std::string, std::string>> xlsxParts(const std::string& target,
                                                           const std::string& sheetXml) {
  return {
      {"[Content_Types].xml", "<Types/>"},
      {"xl/workbook.xml",
       R"(<workbook xmlns:r="r"><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       R"(<Relationships><Relationship Id="rId1" Type="http://x/worksheet" Target=")" + target +
           R"("/></Relationships>)"},
      {"xl/worksheets/sheet1.xml", sheetXml}};
}

TEST_F(Workbooks, DamagedHostileAndEmptyWorkbooksAreRefusedWithTheirReason) {
  const std::string rows =
      R"(<worksheet><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>a</t></is></c></row></sheetData></worksheet>)";
  ASSERT_TRUE(zipParts(path("climb.xlsx"), xlsxParts("../../../etc/passwd", rows)));
  ASSERT_TRUE(zipParts(path("nobook.xlsx"), {{"xl/worksheets/sheet1.xml", rows}}));
  ASSERT_TRUE(zipParts(path("gone.xlsx"), xlsxParts("worksheets/sheet9.xml", rows)));
  ASSERT_TRUE(
      zipParts(path("badxml.xlsx"), xlsxParts("worksheets/sheet1.xml", "<worksheet><sheetData>")));
  ASSERT_TRUE(zipParts(path("empty.xlsx"), xlsxParts("/xl/worksheets/sheet1.xml",
                                                     "<worksheet><sheetData/></worksheet>")));
  ASSERT_TRUE(zipParts(
      path("wrongtype.ods"),
      {{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", odsDocument("")}}));
  std::string archive = readWhole(path("empty.xlsx"));
  file("cut.xlsx", archive.substr(0, archive.size() / 2));
  const struct {
    std::string file;
    std::string reason;
  } cases[] = {
      {file("random.xlsx", "these are not the bytes of a workbook"), "it is not a workbook"},
      {path("cut.xlsx"), "it is not a workbook"},
      {path("climb.xlsx"),
       "it refers to \"../../../etc/passwd\", which is no part of the workbook"},
      {path("nobook.xlsx"), "it is not a workbook: it has no xl/workbook.xml"},
      {path("gone.xlsx"), "it has no xl/worksheets/sheet9.xml"},
      {path("badxml.xlsx"), "is not well-formed XML"},
      {path("wrongtype.ods"), "it is not a spreadsheet document"},
      {path("empty.xlsx"), "the worksheet read from"},
  };
  for (const auto& c : cases) {
    const Outcome r = run("out", {c.file});
    EXPECT_EQ(r.status, 1) << c.file;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.file << ": " << r.err;
    // One line, the command's own, and no crash.
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

TEST_F(Workbooks, ZipBombIsRefusedBeforeItIsUnpacked) {
  // 64 MiB of blanks pack into some 64 KiB; the limit here is 1 MiB.
  std::string sheet = "<worksheet><sheetData>";
  sheet.append(std::size_t{64} << 20, ' ');
  sheet += "</sheetData></worksheet>";
  ASSERT_TRUE(zipParts(path("bomb.xlsx"), xlsxParts("worksheets/sheet1.xml", sheet)));
  EXPECT_LT(fs::file_size(path("bomb.xlsx")), std::uintmax_t{1} << 20);
  tavel::app::SheetRead read;
  std::string why;
  std::string copied;
  const bool ok = tavel::app::writeSheetAsCsv(path("bomb.xlsx"), "",
                                              [&](std::string_view line) {
                                                copied += line;
                                                return true;
                                              },
                                              read, why, {.maxPartBytes = std::uint64_t{1} << 20});
  EXPECT_FALSE(ok);
  EXPECT_EQ(why,
            "its part xl/worksheets/sheet1.xml is larger than 1048576 bytes uncompressed, the most "
            "a sheet may hold");
  EXPECT_TRUE(copied.empty());

  // A few bytes of XML that repeat a row three billion times: refused before a
  // line of it is copied.
  const std::string rows = R"(<table:table table:name="S"><table:table-row>)" + odsText("a") +
                           "</table:table-row>" +
                           R"(<table:table-row table:number-rows-repeated="3000000000">)" +
                           odsFloat("1") + "</table:table-row></table:table>";
  ASSERT_TRUE(
      zipParts(path("rows.ods"), {{"mimetype", kOdsMime}, {"content.xml", odsDocument(rows)}}));
  copied.clear();
  EXPECT_FALSE(tavel::app::writeSheetAsCsv(
      path("rows.ods"), "",
      [&](std::string_view line) {
        copied += line;
        return true;
      },
      read, why));
  EXPECT_EQ(why,
            "its sheet 'S' makes more than 2147483648 bytes of rows, the most a sheet may hold");
  EXPECT_EQ(copied, "\"a\"\n");  // the names only
}

TEST_F(Workbooks, CellsBecomeTheCsvTextASpreadsheetShows) {
  lxw_workbook* wb = workbook_new(path("cells.xlsx").c_str());
  ASSERT_NE(wb, nullptr);
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format(date, "d mmm yyyy");
  lxw_format* time = workbook_add_format(wb);
  format_set_num_format(time, "hh:mm");
  lxw_worksheet* ws = workbook_add_worksheet(wb, "s");
  worksheet_write_string(ws, 0, 1, "T", nullptr);
  worksheet_write_string(ws, 0, 2, "note, \"quoted\"", nullptr);
  worksheet_write_string(ws, 0, 3, "when", nullptr);
  worksheet_write_number(ws, 1, 1, 300, nullptr);
  worksheet_write_string(ws, 1, 2, "two\nlines", nullptr);
  lxw_datetime noon = {2024, 3, 15, 12, 0, 0};
  worksheet_write_datetime(ws, 1, 3, &noon, date);
  worksheet_write_number(ws, 2, 1, 0.5, time);  // a time of day stays a number
  worksheet_write_boolean(ws, 2, 2, 1, nullptr);
  worksheet_write_formula_num(ws, 2, 3, "=1-1", nullptr, 0);  // read by its cached value
  lxw_datetime first = {1900, 1, 1, 0, 0, 0};
  worksheet_write_datetime(ws, 4, 3, &first, date);
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);

  tavel::app::SheetRead read;
  std::string why, csv;
  ASSERT_TRUE(tavel::app::writeSheetAsCsv(
      path("cells.xlsx"), "s",
      [&](std::string_view line) {
        csv += line;
        return true;
      },
      read, why))
      << why;
  // Column A is empty throughout: the table starts at B. Row 4 is empty.
  EXPECT_EQ(csv,
            "\"T\",\"note, \"\"quoted\"\"\",\"when\"\n"
            "300,\"two lines\",2024-03-15 12:00:00\n"
            "0.5,\"TRUE\",0\n"
            "\n"
            ",,1900-01-01\n");
  EXPECT_EQ(read.sheetName, "s");
  EXPECT_EQ(read.namesRow, 1u);
}

}  // namespace
