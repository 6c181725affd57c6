#include "run/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

#include "app/field_format.h"

namespace tavel::run {
namespace {

using platform::kScreenUnit;
using platform::Runtime;
constexpr int kLogUnit = app::kLogUnit;

std::size_t at(int i, int j, int n) {
  return static_cast<std::size_t>(j) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i);
}

void toScreenAndLog(Runtime& runtime, std::string_view line) {
  runtime.writeLine(kScreenUnit, line);
  runtime.writeLine(kLogUnit, line);
}

// Observation numbers and counts are written in their field, or wider when
// they do not fit: a row label or a row count must never turn into asterisks.
void appendCount(std::string& out, std::int64_t value, int w) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  const int len = static_cast<int>(result.ptr - buf);
  if (len < w) out.append(static_cast<std::size_t>(w - len), ' ');
  out.append(buf, static_cast<std::size_t>(len));
}

// Lines of `count` fields: the first line starts with firstPrefix (already
// in `line`) and takes up to firstCount fields; each further line starts
// with furtherPrefix and takes up to furtherCount. appendField(k, line)
// appends field k (0-based); startFurther(line) may add a leading field of
// its own to a further line and returns how many of the fields it took.
template <typename AppendField, typename StartFurther>
void writeWrapped(Runtime& runtime, int unit, std::string& line, int count, int firstCount,
                  std::string_view furtherPrefix, int furtherCount, AppendField appendField,
                  StartFurther startFurther) {
  int k = 0;
  const int first = std::min(count, firstCount);
  for (; k < first; ++k) appendField(k, line);
  runtime.writeLine(unit, line);
  while (k < count) {
    line.assign(furtherPrefix);
    k += startFurther(k, line);
    const int end = std::min(count, k + furtherCount);
    for (; k < end; ++k) appendField(k, line);
    runtime.writeLine(unit, line);
  }
}

auto noLeadingField = [](int, std::string&) { return 0; };

void writeColumnLine(Runtime& runtime, int unit, const std::vector<std::string>& names) {
  std::string line = " Column:    ";
  auto field = [&names](int k, std::string& out) {
    app::appendA(out, names[static_cast<std::size_t>(k)], 10);
    out.push_back(' ');
  };
  writeWrapped(runtime, unit, line, static_cast<int>(names.size()), 6, " ", 7, field,
               noLeadingField);
}

void writeFlagLine(Runtime& runtime, int unit, const int* codes, int count) {
  std::string line = " Flag:  ";
  auto field = [codes](int k, std::string& out) { app::appendI(out, codes[k], 11); };
  // A further line opens with one code in a narrower field.
  auto leading = [codes, count](int k, std::string& out) {
    if (k >= count) return 0;
    app::appendI(out, codes[k], 7);
    return 1;
  };
  writeWrapped(runtime, unit, line, count, 6, " ", 6, field, leading);
}

void writeEchoRows(Runtime& runtime, int unit, const ReportArrays& a, int rows, std::string& line) {
  const int n = a.n;
  for (int i = 0; i < rows; ++i) {
    line.assign(" ");
    appendCount(line, i + 1, 11);
    auto field = [&a, i, n](int k, std::string& out) {
      app::appendG(out, k < a.p ? a.x[at(i, k, n)] : a.y[i], 11, 3);
    };
    writeWrapped(runtime, unit, line, a.p + 1, 6, " ", 7, field, noLeadingField);
  }
}

void appendSpacedE(std::string& out, double value) {
  out.push_back(' ');
  app::appendE(out, value, 11, 3);
}

void writeDependentRows(Runtime& runtime, int unit, const ReportArrays& a, int rows,
                        std::string& line) {
  for (int i = 0; i < rows; ++i) {
    line.assign(" ");
    appendCount(line, i + 1, 4);
    appendSpacedE(line, a.y[i]);
    appendSpacedE(line, a.ty[i]);
    appendSpacedE(line, a.yEq[i]);
    runtime.writeLine(unit, line);
  }
}

// p < 3: raw, transformed and equilibrated value of each predictor, one
// predictor per line.
void writeShortIndependentRows(Runtime& runtime, int unit, const ReportArrays& a, int rows,
                               std::string& line) {
  const int n = a.n;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < a.p; ++j) {
      if (j == 0) {
        line.assign(" ");
        appendCount(line, i + 1, 4);
      } else {
        line.clear();
      }
      appendSpacedE(line, a.x[at(i, j, n)]);
      appendSpacedE(line, a.tx[at(i, j, n)]);
      appendSpacedE(line, a.xEq[at(i, j, n)]);
      runtime.writeLine(unit, line);
    }
  }
}

// p >= 3: one matrix (tx or xEq), six values per line.
void writeMatrixRows(Runtime& runtime, int unit, const ReportArrays& a, const double* matrix,
                     int rows, std::string& line) {
  const int n = a.n;
  for (int i = 0; i < rows; ++i) {
    line.assign(" ");
    appendCount(line, i + 1, 4);
    auto field = [matrix, i, n](int k, std::string& out) {
      app::appendE(out, matrix[at(i, k, n)], 11, 3);
    };
    writeWrapped(runtime, unit, line, a.p, 6, "     ", 6, field, noLeadingField);
  }
}

void writeHeading(Runtime& runtime, int unit, std::string_view heading) {
  runtime.writeLine(unit, "");
  runtime.writeLine(unit, heading);
}

// Ends a spreadsheet: closes (and so renames into place) and tells the user.
bool finishSheet(Runtime& runtime, int unit, std::string_view name, bool written) {
  const bool ok = runtime.closeChecked(unit) && written;
  if (ok) {
    runtime.writeLine(kScreenUnit, app::listLine({std::string(name) + " is done"}));
    return true;
  }
  const std::string message =
      app::listLine({std::string(name) + " could not be written; an earlier " + std::string(name) +
                     " is left unchanged"});
  toScreenAndLog(runtime, message);
  return false;
}

bool openSheet(Runtime& runtime, int unit, std::string_view name) {
  if (runtime.openFileReplacing(unit, name)) return true;
  finishSheet(runtime, unit, name, false);
  return false;
}

void appendCell(std::string& out, std::string_view text) {
  out.append(text);
  out.push_back('\t');
}

void appendCell(std::string& out, double value) {
  app::appendE(out, value, 15, 5);
  out.push_back('\t');
}

void appendCountsRecord(std::string& line, const ReportArrays& a) {
  line.clear();
  appendCount(line, a.n, 5);
  line.push_back('\t');
  appendCount(line, a.p, 5);
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
  std::string line;
  line.reserve(256);
  writeEchoRows(runtime, kScreenUnit, arrays, std::min(arrays.n, kScreenRows), line);
  runtime.writeLine(kScreenUnit, app::listLine({" ..."}));
  writeEchoRows(runtime, kLogUnit, arrays, arrays.n, line);
}

void writeEquilibrationNotice(Runtime& runtime) {
  toScreenAndLog(runtime, app::listLine({" EQUILIBRATION IS ENABLED"}));
}

void writePredictionStats(Runtime& runtime, const PredictionStats& stats) {
  std::string line = " Avedev=";
  app::appendG(line, stats.Avedev, 11, 3);
  app::appendX(line, 3);
  line += "Stdev=";
  app::appendG(line, stats.Stdev, 11, 3);
  app::appendX(line, 3);
  line += "Bias=";
  app::appendG(line, stats.Bias, 11, 3);
  toScreenAndLog(runtime, line);
}

void writeBackTransformedStats(Runtime& runtime, const ExpStats& stats) {
  std::string line = " Exp_Avedev=";
  app::appendG(line, stats.Exp_Avedev, 11, 3);
  app::appendX(line, 3);
  line += "Exp_Stdev=";
  app::appendG(line, stats.Exp_Stdev, 11, 3);
  app::appendX(line, 3);
  line += "Exp_Bias=";
  app::appendG(line, stats.Exp_Bias, 11, 3);
  toScreenAndLog(runtime, line);

  line = " Exp_Avedev%=";
  app::appendG(line, stats.Exp_AvedevPercent, 11, 3);
  app::appendX(line, 3);
  line += "Exp_Stdev%=";
  app::appendG(line, stats.Exp_StdevPercent, 11, 3);
  app::appendX(line, 3);
  line += "Exp_Bias%=";
  app::appendG(line, stats.Exp_BiasPercent, 11, 3);
  toScreenAndLog(runtime, line);
}

void writeClosingReport(Runtime& runtime, double rsq, const ReportArrays& arrays) {
  std::string line = " FINAL SQUARED CORRELATION =";
  app::appendF(line, rsq, 7, 4);
  toScreenAndLog(runtime, line);
  line.reserve(256);

  const int screenRows = std::min(arrays.n, kScreenRows);
  constexpr std::string_view kDependentHeading =
      " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE";
  writeHeading(runtime, kScreenUnit, kDependentHeading);
  writeDependentRows(runtime, kScreenUnit, arrays, screenRows, line);
  writeHeading(runtime, kLogUnit, kDependentHeading);
  writeDependentRows(runtime, kLogUnit, arrays, arrays.n, line);

  if (arrays.p < 3) {
    constexpr std::string_view kHeading =
        " ORIGINAL, TRANSFORMED AND EQUILIBRATED INDEPENDENT VARIABLES";
    writeHeading(runtime, kScreenUnit, kHeading);
    writeHeading(runtime, kLogUnit, kHeading);
    writeShortIndependentRows(runtime, kScreenUnit, arrays, screenRows, line);
    writeShortIndependentRows(runtime, kLogUnit, arrays, arrays.n, line);
    return;
  }
  struct Table {
    std::string_view heading;
    const double* matrix;
  };
  for (const Table& table : {Table{" TRANSFORMED INDEPENDENT VARIABLES ", arrays.tx},
                             Table{" EQUILIBRATED INDEPENDENT VARIABLES ", arrays.xEq}}) {
    writeHeading(runtime, kScreenUnit, table.heading);
    writeHeading(runtime, kLogUnit, table.heading);
    writeMatrixRows(runtime, kScreenUnit, arrays, table.matrix, screenRows, line);
    writeMatrixRows(runtime, kLogUnit, arrays, table.matrix, arrays.n, line);
  }
}

bool writeTransformSheet(Runtime& runtime, const std::vector<std::string>& names,
                         const ReportArrays& a, bool prediction, bool logResponse) {
  const int unit = app::kTransformSheetUnit;
  if (!openSheet(runtime, unit, kTransformSheetName)) return false;
  const int n = a.n;
  const int p = a.p;
  std::string line;
  line.reserve(static_cast<std::size_t>(16 * (2 * p + 8)));
  appendCountsRecord(line, a);
  bool ok = runtime.writeLine(unit, line);

  line.clear();
  for (int j = 0; j < p; ++j) {
    const std::string_view name = trimmedName(names[static_cast<std::size_t>(j)]);
    appendCell(line, name);
    appendCell(line, std::string(name) + "_Tr");
  }
  const std::string dep(trimmedName(names[static_cast<std::size_t>(p)]));
  appendCell(line, dep);
  appendCell(line, dep + "_Tr");
  appendCell(line, "Sum_Tr_Indep");
  appendCell(line, dep + "_Meas");
  appendCell(line, dep + "_Calc_Inv_Tr");
  if (logResponse) {
    const std::string_view full = names[static_cast<std::size_t>(p)];
    const std::string source(trimmedName(full.size() > 4 ? full.substr(4) : std::string_view()));
    appendCell(line, source + "_Meas");
    appendCell(line, source + "_Calc_Inv_Tr");
  }
  ok = ok && runtime.writeLine(unit, line);

  for (int i = 0; ok && i < n; ++i) {
    line.clear();
    for (int j = 0; j < p; ++j) {
      appendCell(line, a.x[at(i, j, n)]);
      appendCell(line, a.tx[at(i, j, n)]);
    }
    appendCell(line, a.y[i]);
    appendCell(line, a.ty[i]);
    const double s = prediction ? a.sumTx[i] : 0.0;
    const double q = prediction ? a.yPred[i] : 0.0;
    appendCell(line, s);
    appendCell(line, a.y[i]);
    appendCell(line, q);
    if (logResponse) {
      appendCell(line, std::exp(a.y[i]));
      appendCell(line, std::exp(q));
    }
    ok = runtime.writeLine(unit, line);
  }
  return finishSheet(runtime, unit, kTransformSheetName, ok);
}

bool writeCorrectionSheet(Runtime& runtime, const std::vector<std::string>& names,
                          const ReportArrays& a) {
  const int unit = app::kCorrectionSheetUnit;
  if (!openSheet(runtime, unit, kCorrectionSheetName)) return false;
  const int n = a.n;
  const int p = a.p;
  std::string line;
  line.reserve(static_cast<std::size_t>(16 * (2 * p + 4)));
  appendCountsRecord(line, a);
  bool ok = runtime.writeLine(unit, line);

  line.clear();
  for (int j = 0; j <= p; ++j) {
    const std::string name(trimmedName(names[static_cast<std::size_t>(j)]));
    appendCell(line, name);
    appendCell(line, name + "_Corr");
  }
  ok = ok && runtime.writeLine(unit, line);

  for (int i = 0; ok && i < n; ++i) {
    line.clear();
    for (int j = 0; j < p; ++j) {
      appendCell(line, a.x[at(i, j, n)]);
      appendCell(line, a.xEq[at(i, j, n)]);
    }
    appendCell(line, a.y[i]);
    appendCell(line, a.yEq[i]);
    ok = runtime.writeLine(unit, line);
  }
  return finishSheet(runtime, unit, kCorrectionSheetName, ok);
}

}  // namespace tavel::run
