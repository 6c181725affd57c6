// SPDX-License-Identifier: GPL-3.0-or-later
#include "run/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "io/field_format.h"
#include "io/trace.h"
#include "run/row_lines.h"

namespace tavel::run {
namespace {

using platform::kScreenUnit;
using platform::Runtime;
constexpr int kLogUnit = app::kLogUnit;

std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

// One output line built in place: the fields write straight into a reused
// character buffer, so a row costs no allocation and no padding calls.
class Line {
 public:
  Line() : buf_(512) {}
  void clear() { end_ = 0; }
  void assign(std::string_view text) {
    end_ = 0;
    append(text);
  }
  void append(std::string_view text) {
    char* p = room(text.size());
    std::memcpy(p, text.data(), text.size());
    end_ += text.size();
  }
  void push_back(char c) {
    *room(1) = c;
    ++end_;
  }
  // Repeats len characters of this line from position from.
  void appendOwn(std::size_t from, std::size_t len) {
    char* p = room(len);
    std::memcpy(p, buf_.data() + from, len);
    end_ += len;
  }
  void e(double value, int w, int d) { end_ = app::putE(room(w), value, w, d) - buf_.data(); }
  void g(double value, int w, int d) { end_ = app::putG(room(w), value, w, d) - buf_.data(); }
  // Observation numbers and counts are written in their field, or wider
  // when they do not fit: a row label or a row count must never turn into
  // asterisks.
  void count(std::int64_t value, int w) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    const auto len = static_cast<std::size_t>(result.ptr - digits);
    if (len < static_cast<std::size_t>(w)) append(std::string_view(kBlanks, w - len));
    append(std::string_view(digits, len));
  }
  // Other field writers of the format module, through a std::string.
  template <typename Writer>
  void field(Writer writer) {
    scratch_.clear();
    writer(scratch_);
    append(scratch_);
  }
  std::string_view view() const { return std::string_view(buf_.data(), end_); }

 private:
  static constexpr char kBlanks[] = "                        ";
  char* room(std::size_t n) {
    if (end_ + n > buf_.size()) buf_.resize(2 * (end_ + n));
    return buf_.data() + end_;
  }
  std::vector<char> buf_;
  std::size_t end_ = 0;
  std::string scratch_;
};

// Where finished lines go: a callable taking each line.
auto toUnit(Runtime& runtime, int unit) {
  return [&runtime, unit](std::string_view text) { runtime.writeLine(unit, text); };
}

// Lines of `count` fields: the first line starts with what `line` holds and
// takes up to firstCount fields; each further line starts with
// furtherPrefix and takes up to furtherCount. field(k, line) appends field k
// (0-based); leading(k, line) may open a further line with a field of its
// own and returns how many fields it took.
template <typename Out, typename Field, typename Leading>
void writeWrapped(const Out& out, Line& line, int count, int firstCount,
                  std::string_view furtherPrefix, int furtherCount, Field field, Leading leading) {
  int k = 0;
  const int first = std::min(count, firstCount);
  for (; k < first; ++k) field(k, line);
  out(line.view());
  while (k < count) {
    line.assign(furtherPrefix);
    k += leading(k, line);
    const int end = std::min(count, k + furtherCount);
    for (; k < end; ++k) field(k, line);
    out(line.view());
  }
}

int noLeadingField(int, Line&) { return 0; }

// The rows [0, rows) of a table to a unit. rowsOf(out, first, last, line)
// gives the lines of rows [first, last) to out; for many rows it runs on a
// helper thread a block ahead of the writing.
template <typename Rows>
void writeTable(Runtime& runtime, int unit, int rows, Rows rowsOf) {
  bool ok[1] = {true};
  writeRowLines(
      rows, 1, ok,
      [&rowsOf](int first, int last, LineBlock& block) {
        Line line;
        rowsOf([&block](std::string_view text) { block.add(0, text); }, first, last, line);
      },
      // The log goes on after a line it could not write, as it always has.
      [&runtime, unit](int, std::string_view lines) {
        runtime.writeLines(unit, lines);
        return true;
      });
}

void writeColumnLine(Runtime& runtime, int unit, const std::vector<std::string>& names) {
  Line line;
  line.assign(" Column:    ");
  auto field = [&names](int k, Line& out) {
    // Names are blank padded on the right; a shorter one is padded here so
    // that it stays left-aligned in its field.
    std::string name = names[static_cast<std::size_t>(k)];
    if (name.size() < 10) name.resize(10, ' ');
    out.field([&](std::string& s) { app::appendA(s, name, 10); });
    out.push_back(' ');
  };
  writeWrapped(toUnit(runtime, unit), line, static_cast<int>(names.size()), 6, " ", 7, field,
               noLeadingField);
}

void writeFlagLine(Runtime& runtime, int unit, const int* codes, int count) {
  Line line;
  line.assign(" Flag:  ");
  auto field = [codes](int k, Line& out) {
    out.field([&](std::string& s) { app::appendI(s, codes[k], 11); });
  };
  // A further line opens with one code in a narrower field.
  auto leading = [codes, count](int k, Line& out) {
    if (k >= count) return 0;
    out.field([&](std::string& s) { app::appendI(s, codes[k], 7); });
    return 1;
  };
  writeWrapped(toUnit(runtime, unit), line, count, 6, " ", 6, field, leading);
}

template <typename Out>
void echoRows(const Out& out, const ReportArrays& a, int first, int last, Line& line) {
  const int n = a.n;
  for (int i = first; i < last; ++i) {
    line.assign(" ");
    line.count(i + 1, 11);
    auto field = [&a, i, n](int k, Line& out) {
      out.g(k < a.p ? a.x[at(i, k, n)] : a.y[i], 11, 3);
    };
    writeWrapped(out, line, a.p + 1, 6, " ", 7, field, noLeadingField);
  }
}

void spacedE(Line& line, double value) {
  line.push_back(' ');
  line.e(value, 11, 3);
}

template <typename Out>
void dependentRows(const Out& out, const ReportArrays& a, int first, int last, Line& line) {
  for (int i = first; i < last; ++i) {
    line.assign(" ");
    line.count(i + 1, 4);
    spacedE(line, a.y[i]);
    spacedE(line, a.ty[i]);
    spacedE(line, a.yEq[i]);
    out(line.view());
  }
}

// p < 3: raw, transformed and equilibrated value of each predictor, one
// predictor per line.
template <typename Out>
void shortIndependentRows(const Out& out, const ReportArrays& a, int first, int last, Line& line) {
  const int n = a.n;
  for (int i = first; i < last; ++i) {
    for (int j = 0; j < a.p; ++j) {
      line.clear();
      if (j == 0) {
        line.push_back(' ');
        line.count(i + 1, 4);
      }
      spacedE(line, a.x[at(i, j, n)]);
      spacedE(line, a.tx[at(i, j, n)]);
      spacedE(line, a.xEq != nullptr ? a.xEq[at(i, j, n)] : 0.0);
      out(line.view());
    }
  }
}

// p >= 3: one matrix (tx or xEq), six values per line. No matrix (xEq of
// a run that did not equilibrate) prints 0.0 everywhere, formatted once.
template <typename Out>
void matrixRows(const Out& out, const ReportArrays& a, const double* matrix, int first, int last,
                Line& line) {
  const int n = a.n;
  char zero[11];
  app::putE(zero, 0.0, 11, 3);
  const std::string_view zeroField(zero, sizeof zero);
  for (int i = first; i < last; ++i) {
    line.assign(" ");
    line.count(i + 1, 4);
    auto field = [matrix, i, n, zeroField](int k, Line& out) {
      if (matrix == nullptr) {
        out.append(zeroField);
      } else {
        out.e(matrix[at(i, k, n)], 11, 3);
      }
    };
    writeWrapped(out, line, a.p, 6, "     ", 6, field, noLeadingField);
  }
}

void writeHeading(Runtime& runtime, int unit, std::string_view heading) {
  runtime.writeLine(unit, "");
  runtime.writeLine(unit, heading);
}

// What is at a spreadsheet's place before a run writes it: the message for
// a file that cannot be written promises only what is true.
enum class Earlier { kNothing, kFile, kFolder };

Earlier earlierAt(Runtime& runtime, std::string_view name) {
  std::error_code ec;
  const auto status = std::filesystem::status(runtime.resolvePath(name), ec);
  if (ec) return Earlier::kNothing;
  if (std::filesystem::is_directory(status)) return Earlier::kFolder;
  if (std::filesystem::exists(status)) return Earlier::kFile;
  return Earlier::kNothing;
}

std::string sheetFailureLine(std::string_view name, Earlier earlier) {
  std::string text = std::string(name) + " could not be written";
  switch (earlier) {
    case Earlier::kFile:
      text += "; an earlier " + std::string(name) + " is left unchanged";
      break;
    case Earlier::kFolder:
      text += ": a folder of that name is in the way";
      break;
    case Earlier::kNothing:
      break;
  }
  return app::listLine({text});
}

// Ends a spreadsheet: closes (and so renames into place) and tells the user.
bool finishSheet(Runtime& runtime, int unit, std::string_view name, bool written, Earlier earlier,
                 std::vector<std::string>& problems) {
  const bool ok = runtime.closeChecked(unit) && written;
  if (ok) {
    runtime.writeLine(kScreenUnit, app::listLine({std::string(name) + " is done"}));
    return true;
  }
  const std::string message = sheetFailureLine(name, earlier);
  app::traceBoth(runtime, message);
  problems.push_back(message.substr(message.find_first_not_of(' ')));
  return false;
}

bool openSheet(Runtime& runtime, int unit, std::string_view name, Earlier& earlier,
               std::vector<std::string>& problems) {
  earlier = earlierAt(runtime, name);
  if (runtime.openFileReplacing(unit, name)) return true;
  finishSheet(runtime, unit, name, false, earlier, problems);
  return false;
}

void cell(Line& line, std::string_view text) {
  line.append(text);
  line.push_back('\t');
}

void cell(Line& line, double value) {
  line.e(value, 15, 5);
  line.push_back('\t');
}

void countsRecord(Line& line, const ReportArrays& a) {
  line.clear();
  line.count(a.n, 5);
  line.push_back('\t');
  line.count(a.p, 5);
  line.push_back('\t');
}

}  // namespace

std::vector<std::string> engineNames(const app::DataTable& data,
                                     const app::VarSelection& selection) {
  auto nameOf = [&data](int v) {
    if (v >= 1 && v <= static_cast<int>(data.colName.size()))
      return data.colName[static_cast<std::size_t>(v - 1)];
    return std::string(app::kNameLength, ' ');
  };
  std::vector<std::string> names;
  for (int j = 0; j < selection.p; ++j) names.push_back(nameOf(selection.indep[j]));
  names.push_back(nameOf(selection.dep));
  return names;
}

std::string_view trimmedName(std::string_view name) {
  const auto last = name.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : name.substr(0, last + 1);
}

void writeInputEcho(Runtime& runtime, const std::vector<std::string>& names, const int* codes,
                    const ReportArrays& arrays) {
  for (int unit : {kScreenUnit, kLogUnit}) {
    runtime.writeLine(unit, "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST");
    runtime.writeLine(unit, "");
  }
  for (int unit : {kScreenUnit, kLogUnit}) writeColumnLine(runtime, unit, names);
  for (int unit : {kScreenUnit, kLogUnit}) writeFlagLine(runtime, unit, codes, arrays.p + 1);
  const auto rows = [&arrays](const auto& out, int first, int last, Line& line) {
    echoRows(out, arrays, first, last, line);
  };
  writeTable(runtime, kScreenUnit, std::min(arrays.n, kScreenRows), rows);
  runtime.writeLine(kScreenUnit, app::listLine({" ..."}));
  writeTable(runtime, kLogUnit, arrays.n, rows);
}

void writeEquilibrationNotice(Runtime& runtime) {
  app::traceBoth(runtime, app::listLine({" EQUILIBRATION IS ENABLED"}));
}

namespace {

// label G11.3, 3X, label G11.3, 3X, label G11.3
std::string statisticsLine(std::string_view label1, double value1, std::string_view label2,
                           double value2, std::string_view label3, double value3) {
  std::string line(label1);
  app::appendG(line, value1, 11, 3);
  app::appendX(line, 3);
  line += label2;
  app::appendG(line, value2, 11, 3);
  app::appendX(line, 3);
  line += label3;
  app::appendG(line, value3, 11, 3);
  return line;
}

}  // namespace

void writePredictionStats(Runtime& runtime, const PredictionStats& stats) {
  app::traceBoth(runtime, statisticsLine(" Avedev=", stats.Avedev, "Stdev=", stats.Stdev,
                                         "Bias=", stats.Bias));
}

void writeBackTransformedStats(Runtime& runtime, const ExpStats& stats) {
  app::traceBoth(runtime, statisticsLine(" Exp_Avedev=", stats.Exp_Avedev, "Exp_Stdev=",
                                         stats.Exp_Stdev, "Exp_Bias=", stats.Exp_Bias));
  app::traceBoth(runtime, statisticsLine(" Exp_Avedev%=", stats.Exp_AvedevPercent,
                                         "Exp_Stdev%=", stats.Exp_StdevPercent,
                                         "Exp_Bias%=", stats.Exp_BiasPercent));
}

void writeClosingReport(Runtime& runtime, double rsq, const ReportArrays& arrays) {
  std::string correlation = " FINAL SQUARED CORRELATION =";
  app::appendF(correlation, rsq, 7, 4);
  app::traceBoth(runtime, correlation);

  const int screenRows = std::min(arrays.n, kScreenRows);
  constexpr std::string_view kDependentHeading =
      " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE";
  const auto dependent = [&arrays](const auto& out, int first, int last, Line& line) {
    dependentRows(out, arrays, first, last, line);
  };
  writeHeading(runtime, kScreenUnit, kDependentHeading);
  writeTable(runtime, kScreenUnit, screenRows, dependent);
  writeHeading(runtime, kLogUnit, kDependentHeading);
  writeTable(runtime, kLogUnit, arrays.n, dependent);

  if (arrays.p < 3) {
    constexpr std::string_view kHeading =
        " ORIGINAL, TRANSFORMED AND EQUILIBRATED INDEPENDENT VARIABLES";
    const auto independent = [&arrays](const auto& out, int first, int last, Line& line) {
      shortIndependentRows(out, arrays, first, last, line);
    };
    writeHeading(runtime, kScreenUnit, kHeading);
    writeHeading(runtime, kLogUnit, kHeading);
    writeTable(runtime, kScreenUnit, screenRows, independent);
    writeTable(runtime, kLogUnit, arrays.n, independent);
    return;
  }
  struct Table {
    std::string_view heading;
    const double* matrix;
  };
  for (const Table& table : {Table{" TRANSFORMED INDEPENDENT VARIABLES ", arrays.tx},
                             Table{" EQUILIBRATED INDEPENDENT VARIABLES ", arrays.xEq}}) {
    const auto rows = [&arrays, &table](const auto& out, int first, int last, Line& line) {
      matrixRows(out, arrays, table.matrix, first, last, line);
    };
    writeHeading(runtime, kScreenUnit, table.heading);
    writeHeading(runtime, kLogUnit, table.heading);
    writeTable(runtime, kScreenUnit, screenRows, rows);
    writeTable(runtime, kLogUnit, arrays.n, rows);
  }
}

namespace {

// Title records of the two spreadsheets.
void transformTitles(Line& line, const std::vector<std::string>& names, int p, bool logResponse) {
  line.clear();
  for (int j = 0; j < p; ++j) {
    const std::string_view name = trimmedName(names[static_cast<std::size_t>(j)]);
    cell(line, name);
    cell(line, std::string(name) + "_Tr");
  }
  const std::string dep(trimmedName(names[static_cast<std::size_t>(p)]));
  cell(line, dep);
  cell(line, dep + "_Tr");
  cell(line, "Sum_Tr_Indep");
  cell(line, dep + "_Meas");
  cell(line, dep + "_Calc_Inv_Tr");
  if (logResponse) {
    const std::string_view full = names[static_cast<std::size_t>(p)];
    const std::string source(trimmedName(full.size() > 4 ? full.substr(4) : std::string_view()));
    cell(line, source + "_Meas");
    cell(line, source + "_Calc_Inv_Tr");
  }
}

void correctionTitles(Line& line, const std::vector<std::string>& names, int p) {
  line.clear();
  for (int j = 0; j <= p; ++j) {
    const std::string name(trimmedName(names[static_cast<std::size_t>(j)]));
    cell(line, name);
    cell(line, name + "_Corr");
  }
}

// Writes the wanted spreadsheets in one pass over the observations: a raw
// value that both files hold is formatted once (for a million rows that is
// a good part of the work). Each file succeeds or fails on its own.
void writeSheets(Runtime& runtime, const std::vector<std::string>& names, const ReportArrays& a,
                 bool prediction, bool logResponse, bool transform, bool correction,
                 bool& transformOk, bool& correctionOk, std::vector<std::string>& problems) {
  constexpr int kTr = app::kTransformSheetUnit;
  constexpr int kCr = app::kCorrectionSheetUnit;
  Earlier trEarlier = Earlier::kNothing;
  Earlier crEarlier = Earlier::kNothing;
  bool tr = transform && openSheet(runtime, kTr, kTransformSheetName, trEarlier, problems);
  bool cr = correction && openSheet(runtime, kCr, kCorrectionSheetName, crEarlier, problems);
  const bool trOpened = tr;
  const bool crOpened = cr;
  const int n = a.n;
  const int p = a.p;
  Line trLine;
  Line crLine;
  if (tr) {
    countsRecord(trLine, a);
    tr = runtime.writeLine(kTr, trLine.view());
    transformTitles(trLine, names, p, logResponse);
    tr = tr && runtime.writeLine(kTr, trLine.view());
  }
  if (cr) {
    countsRecord(crLine, a);
    cr = runtime.writeLine(kCr, crLine.view());
    correctionTitles(crLine, names, p);
    cr = cr && runtime.writeLine(kCr, crLine.view());
  }
  constexpr std::size_t kCell = 16;  // E15.5 and its tab
  // Row i's record of each wanted file; Taveltr.xls's raw values are
  // formatted once and copied into Tavelcr.xls's record.
  const auto records = [&](int first, int last, LineBlock& block) {
    Line trLine;
    Line crLine;
    for (int i = first; i < last; ++i) {
      if (block.wanted[0]) {
        trLine.clear();
        for (int j = 0; j < p; ++j) {
          cell(trLine, a.x[at(i, j, n)]);
          cell(trLine, a.tx[at(i, j, n)]);
        }
        const std::size_t yAt = 2 * kCell * static_cast<std::size_t>(p);
        cell(trLine, a.y[i]);
        cell(trLine, a.ty[i]);
        const double s = prediction ? a.sumTx[i] : 0.0;
        const double q = prediction ? a.yPred[i] : 0.0;
        cell(trLine, s);
        trLine.appendOwn(yAt, kCell);  // the measured value again
        cell(trLine, q);
        if (logResponse) {
          cell(trLine, std::exp(a.y[i]));
          cell(trLine, std::exp(q));
        }
        block.add(0, trLine.view());
      }
      if (block.wanted[1]) {
        crLine.clear();
        const bool reuse = block.wanted[0];  // this row's raw values are in trLine
        for (int j = 0; j < p; ++j) {
          if (reuse) {
            crLine.append(trLine.view().substr(2 * kCell * j, kCell));
          } else {
            cell(crLine, a.x[at(i, j, n)]);
          }
          cell(crLine, a.xEq[at(i, j, n)]);
        }
        if (reuse) {
          crLine.append(trLine.view().substr(2 * kCell * p, kCell));
        } else {
          cell(crLine, a.y[i]);
        }
        cell(crLine, a.yEq[i]);
        block.add(1, crLine.view());
      }
    }
  };
  bool ok[2] = {tr, cr};
  writeRowLines(n, 2, ok, records, [&runtime](int stream, std::string_view records) {
    return runtime.writeLines(stream == 0 ? kTr : kCr, records);
  });
  tr = ok[0];
  cr = ok[1];
  transformOk = trOpened && finishSheet(runtime, kTr, kTransformSheetName, tr, trEarlier, problems);
  correctionOk =
      crOpened && finishSheet(runtime, kCr, kCorrectionSheetName, cr, crEarlier, problems);
}

}  // namespace

bool writeTransformSheet(Runtime& runtime, const std::vector<std::string>& names,
                         const ReportArrays& arrays, bool prediction, bool logResponse) {
  bool transformOk = false;
  bool correctionOk = false;
  std::vector<std::string> problems;
  writeSheets(runtime, names, arrays, prediction, logResponse, true, false, transformOk,
              correctionOk, problems);
  return transformOk;
}

bool writeCorrectionSheet(Runtime& runtime, const std::vector<std::string>& names,
                          const ReportArrays& arrays) {
  bool transformOk = false;
  bool correctionOk = false;
  std::vector<std::string> problems;
  writeSheets(runtime, names, arrays, false, false, false, true, transformOk, correctionOk,
              problems);
  return correctionOk;
}

SheetResults writeSpreadsheets(Runtime& runtime, const std::vector<std::string>& names,
                               const ReportArrays& arrays, bool prediction, bool logResponse,
                               bool correction) {
  SheetResults results;
  writeSheets(runtime, names, arrays, prediction, logResponse, true, correction, results.transform,
              results.correction, results.problems);
  return results;
}

}  // namespace tavel::run
