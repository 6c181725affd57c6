// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/results_export.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/data_file.h"
#include "io/csv_reader.h"
#include "io/trace.h"
#include "platform/file_units.h"
#include "platform/termination_cleanup.h"

namespace tavel::app {
namespace {

bool endsWithLetters(std::string_view name, std::string_view end) {
  return name.size() >= end.size() && sameLetters(name.substr(name.size() - end.size()), end);
}

std::string withoutLnPrefix(const std::string& name) {
  return name.starts_with("_ln_") ? name.substr(4) : name;
}

void addColumn(ResultsTable& t, std::string name, const double* values, int n) {
  t.header.push_back(std::move(name));
  t.columns.emplace_back(values, values + n);
}

// A folder of this process's own in $TMPDIR (or /tmp) for the workbook
// libxlsxwriter writes by name, and its own temporary files; removed with
// what it holds when the object goes or a signal ends the program.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tavel-export-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    folderSlot_ = platform::removeOnTermination(path_, platform::CleanupKind::Folder);
    file_ = path_ + "/results.xlsx";
    fileSlot_ = platform::removeOnTermination(file_, platform::CleanupKind::File);
  }
  ~ScratchFolder() {
    if (path_.empty()) return;
    ::unlink(file_.c_str());
    platform::forgetOnTermination(fileSlot_);
    ::rmdir(path_.c_str());
    platform::forgetOnTermination(folderSlot_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  bool made() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  const std::string& file() const { return file_; }

 private:
  std::string path_, file_;
  int folderSlot_ = -1, fileSlot_ = -1;
};

// The workbook's bytes; false with the reason.
bool xlsxBytes(const ResultsTable& table, const std::vector<SummaryRow>& summary,
               std::string& bytes, std::string& why) {
  ScratchFolder scratch;
  if (!scratch.made()) {
    why = "no temporary folder can be made for it";
    return false;
  }
  lxw_workbook_options options = {};
  options.constant_memory = LXW_TRUE;  // rows go to disk as they are written
  options.tmpdir = const_cast<char*>(scratch.path().c_str());
  lxw_workbook* wb = workbook_new_opt(scratch.file().c_str(), &options);
  if (wb == nullptr) {
    why = "could not be started";
    return false;
  }
  lxw_worksheet* results = workbook_add_worksheet(wb, "results");
  lxw_worksheet* sheet2 = workbook_add_worksheet(wb, "summary");
  for (std::size_t c = 0; c < table.header.size(); ++c)
    worksheet_write_string(results, 0, static_cast<lxw_col_t>(c), table.header[c].c_str(), nullptr);
  const std::size_t n = table.columns.empty() ? 0 : table.columns.front().size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const double v = table.columns[c][i];
      if (std::isfinite(v))
        worksheet_write_number(results, static_cast<lxw_row_t>(i + 1), static_cast<lxw_col_t>(c), v,
                               nullptr);
    }
  const char* heads[] = {"quantity", "variable", "value"};
  for (int c = 0; c < 3; ++c)
    worksheet_write_string(sheet2, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
  for (std::size_t r = 0; r < summary.size(); ++r) {
    const SummaryRow& s = summary[r];
    const auto row = static_cast<lxw_row_t>(r + 1);
    worksheet_write_string(sheet2, row, 0, s.quantity.c_str(), nullptr);
    if (!s.variable.empty()) worksheet_write_string(sheet2, row, 1, s.variable.c_str(), nullptr);
    if (s.isNumber && std::isfinite(s.number))
      worksheet_write_number(sheet2, row, 2, s.number, nullptr);
    else if (!s.isNumber)
      worksheet_write_string(sheet2, row, 2, s.text.c_str(), nullptr);
  }
  const lxw_error closed = workbook_close(wb);
  if (closed != LXW_NO_ERROR) {
    why = std::string("could not be made (") + lxw_strerror(closed) + ")";
    return false;
  }
  return platform::readRegularFile(scratch.file(), std::numeric_limits<std::size_t>::max(), bytes,
                                   why);
}

}  // namespace

bool isXlsxExportName(std::string_view name) { return endsWithLetters(name, ".xlsx"); }

std::string summaryCsvName(std::string_view csvName) {
  std::string base(csvName);
  if (endsWithLetters(base, ".csv")) base.resize(base.size() - 4);
  return base + ".summary.csv";
}

std::vector<std::string> exportFiles(std::string_view name) {
  if (isXlsxExportName(name)) return {std::string(name)};
  return {std::string(name), summaryCsvName(name)};
}

ResultsTable resultsTable(const RunResults& r) {
  ResultsTable t;
  const std::size_t n = static_cast<std::size_t>(r.n);
  const auto predictor = [&](const std::vector<double>& m, int j) {
    return m.data() + static_cast<std::size_t>(j) * n;
  };
  const std::string& dep = r.names[static_cast<std::size_t>(r.p)];
  for (int j = 0; j < r.p; ++j)
    addColumn(t, r.names[static_cast<std::size_t>(j)], predictor(r.x, j), r.n);
  addColumn(t, dep, r.y.data(), r.n);
  for (int j = 0; j < r.p; ++j)
    addColumn(t, r.names[static_cast<std::size_t>(j)] + "_Tr", predictor(r.tx, j), r.n);
  addColumn(t, dep + "_Tr", r.ty.data(), r.n);
  addColumn(t, "Sum_Tr_Indep", r.sumTx.data(), r.n);
  if (r.prediction) {
    std::vector<double> residual(n), rawPred(n), rawResidual(n);
    for (std::size_t i = 0; i < n; ++i) {
      residual[i] = r.y[i] - r.yPred[i];
      rawPred[i] = std::exp(r.yPred[i]);
      rawResidual[i] = std::exp(r.y[i]) - rawPred[i];
    }
    addColumn(t, dep + "_Predicted", r.yPred.data(), r.n);
    addColumn(t, dep + "_Residual", residual.data(), r.n);
    if (r.logResponse) {
      const std::string raw = withoutLnPrefix(dep);
      addColumn(t, raw + "_Predicted", rawPred.data(), r.n);
      addColumn(t, raw + "_Residual", rawResidual.data(), r.n);
    }
  }
  if (r.equilibrated) {
    for (int j = 0; j < r.p; ++j)
      addColumn(t, r.names[static_cast<std::size_t>(j)] + "_Corr", predictor(r.xEq, j), r.n);
    addColumn(t, dep + "_Corr", r.yEq.data(), r.n);
  }
  return t;
}

std::vector<SummaryRow> summaryRows(const RunResults& r) {
  std::vector<SummaryRow> rows;
  const auto text = [&](std::string q, std::string v, std::string t) {
    rows.push_back({std::move(q), std::move(v), std::move(t), 0.0, false});
  };
  const auto number = [&](std::string q, std::string v, double x) {
    rows.push_back({std::move(q), std::move(v), {}, x, true});
  };
  text("data file", "", r.dataFile);
  if (!r.sheet.empty()) text("sheet", "", r.sheet);
  number("rows used", "", r.n);
  number("independents", "", r.p);
  for (std::size_t e = 0; e < r.names.size(); ++e)
    number(e + 1 == r.names.size() ? "flag (dependent)" : "flag", r.names[e], r.codes[e]);
  number("NumTerm", "", r.NumTerm);
  number("DelRsq", "", r.DelRsq);
  number("bass", "", r.bass);
  number("span (0: adaptive)", "", r.span);
  text("equilibration", "", r.equilibrated ? "done" : "not done");
  for (const auto& [name, value] : r.figures) number(name, "", value);
  return rows;
}

std::string csvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                        text.front() == '\t' || text.back() == '\t'));
  if (!quote) return std::string(text);
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

std::string csvNumber(double value) {
  if (!std::isfinite(value)) return {};
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string resultsCsv(const ResultsTable& table) {
  std::string out;
  for (std::size_t c = 0; c < table.header.size(); ++c)
    out += (c == 0 ? "" : ",") + csvField(table.header[c]);
  out += '\n';
  const std::size_t n = table.columns.empty() ? 0 : table.columns.front().size();
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      if (c != 0) out += ',';
      out += csvNumber(table.columns[c][i]);
    }
    out += '\n';
  }
  return out;
}

std::string summaryCsv(const std::vector<SummaryRow>& rows) {
  std::string out = "quantity,variable,value\n";
  for (const SummaryRow& s : rows)
    out += csvField(s.quantity) + "," + csvField(s.variable) + "," +
           (s.isNumber ? csvNumber(s.number) : csvField(s.text)) + "\n";
  return out;
}

bool exportResults(platform::Runtime& runtime, AppState& state, const std::string& path) {
  if (!state.results) {
    refuse(runtime, state, " There are no results to export: run an analysis first.");
    return false;
  }
  const StageTimer timer(state.timings, "export");
  const RunResults& r = *state.results;
  const ResultsTable table = resultsTable(r);
  const std::vector<SummaryRow> summary = summaryRows(r);
  const auto failed = [&](const std::string& file, const std::string& why) {
    refuse(runtime, state, " The results file " + file + " " + why + "; it was not written.");
    return false;
  };
  std::string why;
  if (isXlsxExportName(path)) {
    std::string bytes;
    if (!xlsxBytes(table, summary, bytes, why)) return failed(path, why);
    if (!platform::replaceFileWith(runtime.resolvePath(path), bytes, why)) return failed(path, why);
  } else {
    const std::string second = summaryCsvName(path);
    if (!platform::replaceFileWith(runtime.resolvePath(path), resultsCsv(table), why))
      return failed(path, why);
    if (!platform::replaceFileWith(runtime.resolvePath(second), summaryCsv(summary), why))
      return failed(second, why);
  }
  traceBoth(runtime, " Results exported to " + path);
  return true;
}

void onExportResults(platform::Runtime& runtime, AppState& state) {
  if (!state.results) {
    traceScreen(runtime, " There are no results to export: run an analysis first.");
    return;
  }
  std::string name = "results.xlsx";
  if (!runtime.saveFileDialog(
          kExportDialogTitle,
          {{"Excel workbooks(*.XLSX)", "*.xlsx"}, {"CSV files(*.CSV)", "*.csv"}}, name) ||
      name.empty())
    return;
  // A name typed without its kind gets the workbook's.
  if (!isXlsxExportName(name) && !isCsvFileName(name)) name += ".xlsx";
  exportResults(runtime, state, name);
}

}  // namespace tavel::app
