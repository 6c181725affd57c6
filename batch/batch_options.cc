// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_options.h"

#include "app/model_commands.h"
#include "app/records.h"
#include "model/variable_flag.h"

namespace tavel::batch {
namespace {

constexpr std::size_t kHelpWidth = 79;
// Where an option's help text starts: after "  --extrapolate RULE  ".
constexpr std::size_t kHelpColumn = 22;

std::string optionColumn(const OptionSpec& o) {
  std::string text = "--" + std::string(o.name);
  if (!o.argument.empty()) text += " " + std::string(o.argument);
  if (o.shortName != 0) text += std::string(", -") + o.shortName;
  return text;
}

// Appends text from the help column on, wrapped at kHelpWidth columns.
void wrapInto(std::string& out, std::string_view text) {
  std::size_t column = kHelpColumn;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!first && column + 1 + word.size() > kHelpWidth) {
      out += "\n" + std::string(kHelpColumn, ' ');
      column = kHelpColumn;
      first = true;
    }
    if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
  out += '\n';
}

// "save-model" as roff writes the option: \-\-save\-model.
std::string roffOption(std::string_view name) {
  std::string text = "\\-\\-";
  for (char c : name) {
    if (c == '-') text += '\\';
    text += c;
  }
  return text;
}

}  // namespace

const std::vector<OptionSpec>& batchOptions() {
  static const std::vector<OptionSpec> options = {
      {.name = "dep",
       .shortName = 0,
       .argument = "NAME",
       .help = "dependent variable (a column name, or _ln_NAME); default: the last file column",
       .manual = R"(The dependent variable: a column name, or
.BI _ln_ NAME
for the logarithm of a column.
Default: the last column of the file.)",
       .manualTag = {}},
      {.name = "indep",
       .shortName = 0,
       .argument = "NAME",
       .help = "an independent variable; repeat it; default: every other file column but the "
               "dependent's own (Y for --dep _ln_Y); neither may be named",
       .manual = R"(An independent variable; repeat the option for each one.
Default: every other column of the file except the dependent's own:
for
.B \-\-dep _ln_Y
the column
.B Y
is left out too.
The dependent, or its column or log variable on the other scale, cannot be named.)",
       .manualTag = {}},
      {.name = "flag",
       .shortName = 0,
       .argument = "NAME=CODE",
       .help = "type flag of a chosen variable: 1-5 or orderable, circular, monotone, linear, "
               "unorderable; default " +
               std::to_string(model::engineCode(model::VarFlag::Orderable)) +
               " for independents and " +
               std::to_string(model::engineCode(model::VarFlag::Monotone)) + " for the dependent",
       .manual = R"(The type flag of a chosen variable: a number from 1 to 5 or its name,
.BR orderable " (1), " circular " (2), " monotone " (3), " linear " (4) or " unorderable " (5)."
Default: 1 for the independent variables and 3 for the dependent one.)",
       .manualTag = R"(.BI \-\-flag " NAME" = CODE)"},
      {.name = "numterm",
       .shortName = 0,
       .argument = "N",
       .help = "NumTerm, a whole number of at least 1 (default " +
               std::to_string(app::RunOptions{}.NumTerm) + ")",
       .manual = R"(NumTerm, the number of passes compared to decide convergence (default 2).)",
       .manualTag = {}},
      {.name = "delrsq",
       .shortName = 0,
       .argument = "X",
       .help = "DelRsq, a finite number (default: the value the scan sets)",
       .manual =
           R"(DelRsq: when r\(S2 changes by less than this over NumTerm passes, they have converged
(default: the value set when the file is read).)",
       .manualTag = {}},
      {.name = "equilibration",
       .shortName = 0,
       .argument = "",
       .help = "run the equilibration stage (every variable must be monotone)",
       .manual = R"(Run the equilibration stage as well, which writes
.IR Tavelcr.xls .)",
       .manualTag = {}},
      {.name = "captures",
       .shortName = 0,
       .argument = "",
       .help = "save every plot as pic_?.bmp",
       .manual = R"(Save every plot as a picture,
.IR pic_A.bmp ", " pic_B.bmp ", ...")",
       .manualTag = {}},
      {.name = "csv",
       .shortName = 0,
       .argument = "",
       .help = "read the data file as CSV whatever its name (a .csv file always is)",
       .manual = R"(Read the data file (or the file of
.BR \-\-predict )
as CSV whatever its name (standard input, or a file named otherwise);
a file whose name ends in
.I .csv
is always read as CSV.)",
       .manualTag = {}},
      {.name = "tsv",
       .shortName = 0,
       .argument = "",
       .help =
           "read the data file as CSV with tabs whatever its name (a .tsv or .tab file always is)",
       .manual = R"(Read the data file (or the file of
.BR \-\-predict )
as CSV with tabs whatever its name; a file whose name ends in
.I .tsv
or
.I .tab
always is.
.B \-\-csv
and
.B \-\-tsv
together are a usage error.)",
       .manualTag = {}},
      {.name = "sheet",
       .shortName = 0,
       .argument = "NAME|N",
       .help = "the worksheet of an .xlsx or .ods data file (or --predict file) to read, by name "
               "or 1-based number (default: the first)",
       .manual = R"(The worksheet to read when the data file (or the file of
.BR \-\-predict )
is a workbook,
.I .xlsx
or
.IR .ods :
by its name, or by its number counted from 1 (a sheet named so wins).
Default: the first sheet.
Given for a file that is not a workbook, it is a usage error.)",
       .manualTag = R"(.BI \-\-sheet " NAME\fR|\fPN")"},
      {.name = "outdir",
       .shortName = 0,
       .argument = "DIR",
       .help = "folder for the log, spreadsheets and pictures (default: the current folder)",
       .manual = R"(The folder for the log, the spreadsheets and the pictures; it is created when
missing.
Default: the current folder.)",
       .manualTag = {}},
      {.name = "cv",
       .shortName = 0,
       .argument = "K",
       .help = "cross-validate the fit in K folds (2 to the number of rows)",
       .manual = R"(Cross-validate the fit in K folds (2 to the number of rows): row i is held out
in fold ((i \- 1) mod K) + 1, the other rows are fitted with the same choices,
and the held-out rows are scored; the report ends with the cross-validated
squared correlation; for a dependent flagged Monotone Tr or Linear Tr it is
followed by the same folds scored on the response's own scale
(R^2 = 1 \- SSE/SST and the RMSE, pooled over every held-out row; for a
.I _ln_
dependent after exponentiating both the measured and the predicted values).)",
       .manualTag = {}},
      {.name = "extrapolate",
       .shortName = 0,
       .argument = "RULE",
       .help = "a score beyond the fitted range of the dependent's transformation, in predictions "
               "and cross-validation: hold (default: the nearer end of the observed range) or "
               "linear (the end interval extended); with --model it replaces the model file's rule",
       .manual = R"(How a score beyond the fitted range of the dependent's transformation is
inverted in the predictions of a model and in the cross-validation:
.B hold
(the default) gives the nearer end of the observed range of the dependent,
with the status "response held at the fitted range";
.B linear
extends the end interval. The rule is kept in the model file; with
.B \-\-model
it replaces the file's rule. The Run's own in-sample prediction always extends
the end intervals.)",
       .manualTag = {}},
      {.name = "bass",
       .shortName = 0,
       .argument = "B",
       .help = "the supersmoother's bass, 0 to 10 (default 5; higher is smoother)",
       .manual = R"(The bass of the supersmoother, from 0 to 10: the higher, the more it
prefers its widest span and the smoother the transformations.
Default: 5.)",
       .manualTag = {}},
      {.name = "span",
       .shortName = 0,
       .argument = "S",
       .help = "a fixed span of the supersmoother, 0 to 1 (default 0: adaptive)",
       .manual = R"(A fixed span of the supersmoother, a fraction of the rows from 0 to 1,
instead of the adaptive one.
Default: 0, the adaptive span.)",
       .manualTag = {}},
      {.name = "tune",
       .shortName = 0,
       .argument = "",
       .help = "with --cv: choose the smoothness by cross-validation (bass 0, 2, 5, 8, 10 and "
               "every Orderable independent Linear Tr), then run with it",
       .manual = R"(With
.BR \-\-cv :
cross-validate, on the same folds, the bass 0, 2, 5, 8 and 10 with the
adaptive span and the fit with every Orderable independent and a Monotone
dependent Linear Tr (least squares when no other flag is used); score each by
its error on the response's own scale (exponentiated for a
.B _ln_
dependent), print the table, and run with the smallest error.
The winner's cross-validated figures are its tuning score, so slightly
optimistic.
Not with
.B \-\-bass
or
.BR \-\-span .
A dependent that is neither Monotone Tr nor Linear Tr stops the run.)",
       .manualTag = {}},
      {.name = "timings",
       .shortName = 0,
       .argument = "",
       .help = "say on standard error how long each stage took",
       .manual = R"(After the command, say on standard error how long each of its stages took
(one line "timing: STAGE SECONDS s" each). The log, the sheets and standard
output are the same with it and without it.)",
       .manualTag = {}},
      {.name = "quiet",
       .shortName = 0,
       .argument = "",
       .help = "print none of the main window's lines on standard output (the files and "
               "standard error stay the same)",
       .manual = R"(Print none of the lines of the program's main window on standard output.
The files written and the messages on standard error are the same with it and
without it.)",
       .manualTag = {}},
      {.name = "save-model",
       .shortName = 0,
       .argument = "FILE",
       .help = "write the fitted model as JSON",
       .manual = R"(After the fit, write its model (every variable's transformation as a table)
as JSON. FILE must be a regular file or a new name in a folder that exists,
and neither the data file nor another output of the run; this is checked
before anything runs.)",
       .manualTag = {}},
      {.name = "export",
       .shortName = 0,
       .argument = "FILE",
       .help = "write the results as a table: FILE.xlsx (sheets results and summary), or FILE.csv "
               "and FILE.summary.csv",
       .manual = R"(After the run, write its results as one table, one row per observation under
a header of names: the variables, their transformations, Sum_Tr_Indep, the
prediction and its residual for a monotone response, the equilibrated values
when they were made; at full precision, without a counts line or trailing
separators. FILE ends in
.I .xlsx
(a workbook with the sheets
.I results
and
.IR summary ,
the run's settings and figures) or
.I .csv
(then the summary goes to
.IR FILE .summary.csv
beside it). Like
.BR \-\-save\-model ,
FILE must be a regular file or a new name in a folder that exists, and no
input or other output of the run.)",
       .manualTag = {}},
      {.name = "model",
       .shortName = 0,
       .argument = "FILE",
       .help = "with --predict: the model file to apply",
       .manual = R"(With
.BR \-\-predict :
the model file to apply: a regular file of at most 1 GiB.)",
       .manualTag = {}},
      {.name = "predict",
       .shortName = 0,
       .argument = "DATAFILE",
       .help = "with --model: predict the rows of DATAFILE into " +
               std::string(app::kPredictionSheetName),
       .manual = R"(With
.BR \-\-model :
predict every row of DATAFILE (the model's variables are looked up by name in
its first line) into
.IR Tavelpr.xls .)",
       .manualTag = {}},
      {.name = "help",
       .shortName = 'h',
       .argument = "",
       .help = "print this help and exit",
       .manual = R"(Print a summary of the options and exit.)",
       .manualTag = R"(.BR \-\-help ", " \-h)"},
      {.name = "version",
       .shortName = 0,
       .argument = "",
       .help = "print the version and exit",
       .manual = R"(Print the version and exit.)",
       .manualTag = {}},
  };
  return options;
}

std::string batchHelpText() {
  std::string text =
      "usage: tavel-batch [options] DATAFILE     (DATAFILE - reads standard input)\n"
      "       tavel-batch --model FILE --predict DATAFILE [--outdir DIR]\n";
  for (const OptionSpec& o : batchOptions()) {
    const std::string column = "  " + optionColumn(o);
    text += column;
    if (column.size() + 2 > kHelpColumn)
      text += "\n" + std::string(kHelpColumn, ' ');
    else
      text += std::string(kHelpColumn - column.size(), ' ');
    wrapInto(text, o.help);
  }
  return text;
}

std::string batchManualOptions() {
  std::string text = ".SH OPTIONS\n";
  for (const OptionSpec& o : batchOptions()) {
    text += ".TP\n";
    if (!o.manualTag.empty())
      text += std::string(o.manualTag);
    else if (o.argument.empty())
      text += ".B " + roffOption(o.name);
    else
      text += ".BI " + roffOption(o.name) + " \" " + std::string(o.argument) + "\"";
    text += "\n" + o.manual + "\n";
  }
  return text;
}

}  // namespace tavel::batch
