// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch --export: the results read back by this test's own CSV parser
// (and the workbook's sheet XML read with libzip and pugixml) hold the data
// to the last digit, the run's transformations as Taveltr.xls shows them,
// and predictions whose residuals add up; outputs never replace inputs.
#include "app/results_export.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "batch/batch_front.h"

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

std::string readWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// RFC 4180 as a reader sees it: fields split at commas outside quotes, a
// doubled quote inside quotes is one quote, records end at a line end
// outside quotes.
Rows parseCsv(const std::string& text) {
  Rows rows(1);
  std::string field;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
    } else {
      field += c;
    }
  }
  if (!field.empty() || !rows.back().empty()) rows.back().push_back(field);
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

double number(const std::string& text) {
  double v = NAN;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v;
}

// Per row the tab-separated fields of Taveltr.xls (each line ends in a tab).
Rows parseSheet(const std::string& text) {
  Rows rows;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> fields;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t f = 0;
    while (f < line.size()) {
      std::size_t tab = line.find('\t', f);
      if (tab == std::string::npos) tab = line.size();
      std::string cell = line.substr(f, tab - f);
      cell.erase(0, cell.find_first_not_of(' '));
      fields.push_back(cell);
      f = tab + 1;
    }
    rows.push_back(fields);
    start = end + 1;
  }
  return rows;
}

// A rate that grows with T and P: every value positive, so RATE has a log.
const char* kData =
    "T P RATE\n"
    "300.5 1.25 0.0123\n310.25 2.5 0.0301\n320 1.75 0.0288\n330.125 3.5 0.112\n"
    "340 2.25 0.0876\n350.75 4 0.31\n360 3.25 0.262\n370.5 4.75 0.914\n"
    "380 2.75 0.403\n390.25 5 1.87\n400 3.75 1.21\n410.5 5.5 4.02\n";

class ResultsExport : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ =
        fs::temp_directory_path() / ("tre-" + std::to_string(::getpid())) / std::to_string(++count);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
    fs::create_directories(dir_ / "tmp");
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    data_ = path("rates.dat");
    std::ofstream(data_) << kData;
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    fs::remove_all(dir_.parent_path());
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  int run(std::vector<std::string> args) {
    tavel::batch::BatchIo io;
    io.out = [](std::string_view) {};
    io.err = [this](std::string_view t) { err_ += t; };
    args.insert(args.begin(), {"--outdir", path("out"), "--dep", "_ln_RATE", "--indep", "T",
                               "--indep", "P", "--flag", "T=monotone", "--flag", "P=monotone"});
    tavel::app::AppState state;
    return tavel::batch::runBatch(args, io, state);
  }

  fs::path dir_;
  std::string data_;
  std::string err_;
};

TEST_F(ResultsExport, CsvHoldsTheRunToTheLastDigit) {
  ASSERT_EQ(run({"--equilibration", "--export", path("r.csv"), data_}), 0) << err_;
  const std::string text = readWhole(path("r.csv"));
  const Rows rows = parseCsv(text);
  const std::vector<std::string> header = {"P",
                                           "T",
                                           "_ln_RATE",
                                           "P_Tr",
                                           "T_Tr",
                                           "_ln_RATE_Tr",
                                           "Sum_Tr_Indep",
                                           "_ln_RATE_Predicted",
                                           "_ln_RATE_Residual",
                                           "RATE_Predicted",
                                           "RATE_Residual",
                                           "P_Corr",
                                           "T_Corr",
                                           "_ln_RATE_Corr"};
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(rows[0], header);
  EXPECT_EQ(text.find(",\n"), std::string::npos);  // no trailing separators

  const Rows input = parseSheet(std::string(kData));  // blanks: one field per line
  const Rows sheet = parseSheet(readWhole(path("out/Taveltr.xls")));
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& r = rows[i];
    ASSERT_EQ(r.size(), header.size()) << i;
    // The data exactly as read: T and P as written, RATE's logarithm.
    double t = 0, p = 0, rate = 0;
    std::sscanf(input[i][0].c_str(), "%lf %lf %lf", &t, &p, &rate);
    EXPECT_EQ(number(r[1]), t);
    EXPECT_EQ(number(r[0]), p);
    EXPECT_EQ(number(r[2]), std::log(rate));
    // Taveltr.xls shows the same transformations in 6 digits: its columns
    // are P, P_Tr, T, T_Tr, _ln_RATE, _ln_RATE_Tr, Sum, Meas, Calc, ...
    const auto& s = sheet[i + 1];
    const auto near6 = [](double exact, const std::string& shown) {
      return std::abs(exact - number(shown)) <= 5e-6 * std::abs(number(shown)) + 1e-300;
    };
    EXPECT_TRUE(near6(number(r[3]), s[1])) << r[3] << " " << s[1];
    EXPECT_TRUE(near6(number(r[4]), s[3])) << r[4] << " " << s[3];
    EXPECT_TRUE(near6(number(r[5]), s[5])) << r[5] << " " << s[5];
    EXPECT_TRUE(near6(number(r[7]), s[8])) << r[7] << " " << s[8];
    // Residuals are measured minus predicted, on both scales.
    EXPECT_EQ(number(r[8]), number(r[2]) - number(r[7]));
    EXPECT_EQ(number(r[9]), std::exp(number(r[7])));
    EXPECT_EQ(number(r[10]), std::exp(number(r[2])) - number(r[9]));
  }

  const Rows summary = parseCsv(readWhole(path("r.summary.csv")));
  std::map<std::string, std::string> value;
  for (const auto& r : summary) value[r[0] + "/" + r[1]] = r.size() > 2 ? r[2] : "";
  EXPECT_EQ(summary[0], (std::vector<std::string>{"quantity", "variable", "value"}));
  EXPECT_EQ(value["data file/"], data_);
  EXPECT_EQ(value["rows used/"], "12");
  EXPECT_EQ(value["flag/T"], "3");
  EXPECT_EQ(value["flag (dependent)/_ln_RATE"], "3");
  EXPECT_EQ(value["NumTerm/"], "2");
  EXPECT_EQ(value["equilibration/"], "done");
  const std::string log = readWhole(path("out/Tavel.log"));
  const double rsq = number(value["r**2/"]);
  char shown[16];
  std::snprintf(shown, sizeof shown, "%7.4f", rsq);
  EXPECT_NE(log.find(std::string("FINAL SQUARED CORRELATION =") + shown), std::string::npos);
}

// The numbers of a worksheet's cells, by row, read from its XML.
std::map<std::string, std::string> sheetCells(const std::string& file, const std::string& part) {
  std::map<std::string, std::string> cells;
  int error = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_RDONLY, &error);
  if (z == nullptr) return cells;
  zip_stat_t st;
  std::string xml;
  if (zip_stat(z, part.c_str(), 0, &st) == 0) {
    xml.resize(st.size);
    zip_file_t* f = zip_fopen(z, part.c_str(), 0);
    if (f != nullptr) {
      zip_fread(f, xml.data(), xml.size());
      zip_fclose(f);
    }
  }
  zip_discard(z);
  pugi::xml_document doc;
  doc.load_string(xml.c_str());
  for (pugi::xml_node row : doc.child("worksheet").child("sheetData").children("row"))
    for (pugi::xml_node c : row.children("c"))
      cells[c.attribute("r").value()] =
          c.child("v") ? c.child_value("v") : c.child("is").child_value("t");
  return cells;
}

TEST_F(ResultsExport, WorkbookHoldsTheSameTableAndASummarySheet) {
  ASSERT_EQ(run({"--export", path("r.csv"), data_}), 0) << err_;
  ASSERT_EQ(run({"--export", path("r.xlsx"), data_}), 0) << err_;
  const Rows csv = parseCsv(readWhole(path("r.csv")));
  const auto results = sheetCells(path("r.xlsx"), "xl/worksheets/sheet1.xml");
  const auto summary = sheetCells(path("r.xlsx"), "xl/worksheets/sheet2.xml");
  ASSERT_EQ(csv[0].size(), 11u);  // no equilibration: no _Corr columns
  EXPECT_EQ(results.at("A1"), "P");
  EXPECT_EQ(results.at("K1"), "RATE_Residual");
  EXPECT_EQ(summary.at("A1"), "quantity");
  for (std::size_t i = 1; i < csv.size(); ++i)
    for (std::size_t c = 0; c < csv[i].size(); ++c) {
      const std::string ref = std::string(1, static_cast<char>('A' + c)) + std::to_string(i + 1);
      // libxlsxwriter stores 16 significant digits.
      const double exact = number(csv[i][c]);
      EXPECT_NEAR(number(results.at(ref)), exact, 1e-15 * std::abs(exact)) << ref;
    }
}

TEST_F(ResultsExport, ExportNeverReplacesAnInputOrAnotherOutput) {
  // The summary of "rates.csv" would be rates.summary.csv: make that the data.
  const std::string data = path("rates.summary.csv");
  std::string csv;
  for (char c : std::string(kData)) csv += c == ' ' ? ',' : c;
  std::ofstream(data) << csv;
  const std::string before = readWhole(data);
  EXPECT_EQ(run({"--export", path("rates.csv"), data}), 1);
  EXPECT_NE(err_.find("would replace the data file"), std::string::npos) << err_;
  EXPECT_EQ(readWhole(data), before);
  EXPECT_FALSE(fs::exists(path("out/Taveltr.xls")));

  err_.clear();
  EXPECT_EQ(run({"--export", path("out/r.txt"), data_}), 2);
  EXPECT_NE(err_.find("--export needs a file name ending in .xlsx or .csv"), std::string::npos);
  err_.clear();
  EXPECT_EQ(run({"--export", path("nowhere/r.csv"), data_}), 1);
  EXPECT_NE(err_.find("does not exist"), std::string::npos) << err_;
}

TEST(ResultsCsv, FieldsAreQuotedOnlyWhenAReaderNeedsIt) {
  using tavel::app::csvField;
  using tavel::app::csvNumber;
  EXPECT_EQ(csvField("T_Tr"), "T_Tr");
  EXPECT_EQ(csvField("a,b"), "\"a,b\"");
  EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(csvField(" padded"), "\" padded\"");
  EXPECT_EQ(csvNumber(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(csvNumber(-2.5e-300), "-2.5e-300");
  EXPECT_EQ(csvNumber(1e21), "1e+21");
  EXPECT_EQ(csvNumber(INFINITY), "");
  EXPECT_EQ(tavel::app::summaryCsvName("out/results.CSV"), "out/results.summary.csv");
}

}  // namespace
