// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/run/run_session_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ace/ace.h"
#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "io/field_format.h"
#include "platform/headless/recording_canvas.h"
#include "run/inverse_stats.h"
#include "run/run_command.h"

namespace tavel::run::testing {
namespace {

using platform::headless::DialogAction;
using platform::headless::ScriptedDialog;

std::string trimRight(const std::string& s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string pad(const std::string& s, std::size_t length) {
  std::string out = s.substr(0, std::min(s.size(), length));
  out.resize(length, ' ');
  return out;
}

std::filesystem::path makeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavel-run-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("cannot make a temporary folder");
  return made;
}

const std::string kHeading = "  INDEPENDENT VARIABLES, DEPENDENT VARIABLE IS LAST";

}  // namespace

std::unique_ptr<platform::Canvas> makeCanvas() {
  return std::make_unique<platform::headless::RecordingCanvas>();
}

std::map<std::string, std::vector<std::string>> sheetColumns(const std::vector<std::string>& lines,
                                                             std::size_t titleLine) {
  std::map<std::string, std::vector<std::string>> columns;
  auto split = [](const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      fields.push_back(line.substr(start, tab - start));
    return fields;
  };
  if (titleLine >= lines.size()) return columns;
  const std::vector<std::string> titles = split(lines[titleLine]);
  for (std::size_t r = titleLine + 1; r < lines.size(); ++r) {
    const std::vector<std::string> fields = split(lines[r]);
    for (std::size_t c = 0; c < titles.size() && c < fields.size(); ++c)
      columns[titles[c]].push_back(fields[c]);
  }
  return columns;
}

std::vector<std::string> fileLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Session::Session()
    : runtime(makeTempDir().string(), [] { return makeCanvas(); }),
      shell(runtime, state),
      dir_(runtime.files().baseDir()) {
  shell.buildMenus();
  shell.setRunCommand([this] { onRun(runtime, state, shell); });
  shell.startUp();
}

Session::~Session() {
  runtime.files().closeAll();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void Session::writeFile(const std::string& name, const std::string& text) const {
  std::ofstream out(path(name), std::ios::binary);
  out << text;
}

void Session::input(const std::string& fileName, const std::vector<std::string>& include,
                    const std::string& dep) {
  runtime.queueFileChoice(path(fileName).string());
  runtime.queueDialogScript(
      app::kPrepareResource,
      {DialogAction::select(app::kPrepareVariableList, include),
       DialogAction::press(app::kPrepareMoveIn), DialogAction::run([dep](ScriptedDialog& d) {
         const std::vector<std::string> rows = d.items(app::kPrepareIncludeList);
         for (std::size_t r = 0; r < rows.size(); ++r)
           if (trimRight(rows[r]) == dep)
             d.play(DialogAction::clickRadio(app::kFirstDepRadio + static_cast<int>(r)));
       }),
       DialogAction::press(app::kOkButton)});
  runtime.invokeMenu("&Input Dat File...");
}

void Session::options(const std::map<std::string, int>& flags, bool equilibration, bool captures) {
  platform::headless::DialogScript script;
  for (const auto& [name, code] : flags) {
    script.push_back(DialogAction::select(app::kOptionsVariableList, {name}));
    script.push_back(DialogAction::clickRadio(app::kFirstFlagRadio + code - 1));
  }
  script.push_back(DialogAction::check(app::kEquilibrationBox, equilibration));
  script.push_back(DialogAction::check(app::kScreenCapturesBox, captures));
  script.push_back(DialogAction::press(app::kOkButton));
  runtime.queueDialogScript(app::kOptionsResource, std::move(script));
  runtime.invokeMenu("&Options");
}

void Session::run() {
  runtime.invokeMenu("&Run");
  runtime.flush(app::kLogUnit);
}

std::vector<std::string> Session::runLog(int which) const {
  const std::vector<std::string> all = fileLines(dir_ / "Tavel.log");
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i] == kHeading) starts.push_back(i);
  if (which < 1 || static_cast<std::size_t>(which) > starts.size()) return {};
  const std::size_t begin = starts[which - 1];
  const std::size_t end =
      static_cast<std::size_t>(which) < starts.size() ? starts[which] : all.size();
  return {all.begin() + begin, all.begin() + end};
}

// The production engine and stages, called directly: what the Run should
// produce if it wires them correctly, not what the numbers ought to be.
Reference computeReference(const std::map<std::string, std::vector<double>>& columns,
                           const std::vector<std::string>& names, const std::vector<int>& codes,
                           bool equilibrationSwitch, double delRsq, int numTerm) {
  Reference r;
  r.p = static_cast<int>(names.size()) - 1;
  r.codes = codes;
  const int p = r.p;
  auto column = [&](const std::string& name) {
    if (name.rfind("_ln_", 0) == 0) {
      std::vector<double> v = columns.at(name.substr(4));
      for (double& e : v) e = std::log(e);
      return v;
    }
    return columns.at(name);
  };
  r.n = static_cast<int>(column(names[0]).size());
  const int n = r.n;
  for (const std::string& name : names) r.names.push_back(pad(name, app::kNameLength));
  for (int j = 0; j < p; ++j) {
    const std::vector<double> v = column(names[j]);
    r.x.insert(r.x.end(), v.begin(), v.end());
  }
  r.y = column(names[p]);
  r.tx.assign(static_cast<std::size_t>(n) * p, 0.0);
  r.ty.assign(n, 0.0);
  r.m.assign(static_cast<std::size_t>(n) * (p + 1), 0);
  std::vector<double> w(n, 1.0), z(static_cast<std::size_t>(n) * 12, 0.0);
  int ierr = 0;
  ace::RsqHistory history{};
  ace::AceSettings settings;
  ace::ace_estimate(n, p, r.x.data(), r.y.data(), w.data(), codes.data(), delRsq, r.tx.data(),
                    r.ty.data(), r.rsq, ierr, r.m.data(), z.data(), n, settings, numTerm, history,
                    [&r](std::string_view line) { r.engineLines.emplace_back(line); });

  bool allMonotone = true;
  for (int c : codes) allMonotone = allMonotone && c == 3;
  r.equilibration = equilibrationSwitch && allMonotone;
  r.prediction = codes[p] == 3;
  r.logResponse = names[p].rfind("_ln_", 0) == 0;

  const LineSink sink = [&r](std::string_view line) { r.numericLines.emplace_back(line); };
  const RunArrays run{n, p, r.x.data(), r.y.data(), r.tx.data(), r.ty.data(), r.m.data()};
  std::vector<double> a(n), b(n), target(n);
  r.xEq.assign(static_cast<std::size_t>(n) * p, 0.0);
  r.yEq.assign(n, 0.0);
  if (r.equilibration)
    equilibrate(run, a.data(), b.data(), target.data(), r.xEq.data(), r.yEq.data(), sink);
  r.sumTx.assign(n, 0.0);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 0; j < p; ++j) s += r.tx[static_cast<std::size_t>(j) * n + i];
    r.sumTx[i] = s;
  }
  r.yPred.assign(n, 0.0);
  r.expPred.assign(n, 0.0);
  if (r.prediction) {
    const PredictionStats s =
        predictResponse(run, r.sumTx.data(), a.data(), b.data(), r.yPred.data(), sink);
    r.Avedev = s.Avedev;
    r.Stdev = s.Stdev;
    r.Bias = s.Bias;
    if (r.logResponse) {
      const ExpStats e = backTransformedStats(n, r.y.data(), r.yPred.data(), r.expPred.data());
      r.ExpAvedev = e.Exp_Avedev;
      r.ExpStdev = e.Exp_Stdev;
      r.ExpBias = e.Exp_Bias;
      r.ExpAvedevPct = e.Exp_AvedevPercent;
      r.ExpStdevPct = e.Exp_StdevPercent;
      r.ExpBiasPct = e.Exp_BiasPercent;
    }
  }
  return r;
}

namespace {

using app::fieldE;
using app::fieldG;
using app::fieldI;

double at(const std::vector<double>& v, int n, int i, int j) {
  return v[static_cast<std::size_t>(j) * n + i];
}

// Fields laid out over a first line and further lines.
std::vector<std::string> wrapped(const std::string& firstPrefix, int firstCount,
                                 const std::string& furtherPrefix, int furtherCount,
                                 const std::vector<std::string>& fields) {
  std::vector<std::string> lines;
  std::size_t k = 0;
  std::string line = firstPrefix;
  int room = firstCount;
  while (k < fields.size()) {
    if (room == 0) {
      lines.push_back(line);
      line = furtherPrefix;
      room = furtherCount;
    }
    line += fields[k++];
    --room;
  }
  lines.push_back(line);
  return lines;
}

void append(std::vector<std::string>& out, const std::vector<std::string>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

std::vector<std::string> echoRow(const Reference& r, int i) {
  std::vector<std::string> fields;
  for (int j = 0; j < r.p; ++j) fields.push_back(fieldG(at(r.x, r.n, i, j), 11, 3));
  fields.push_back(fieldG(r.y[i], 11, 3));
  return wrapped(" " + fieldI(i + 1, 11), 6, " ", 7, fields);
}

std::string e11(double v) { return fieldE(v, 11, 3); }

}  // namespace

std::vector<std::string> expectedEchoLines(const Reference& r, int rows, bool screen) {
  std::vector<std::string> out = {kHeading, ""};
  std::vector<std::string> names;
  for (const std::string& name : r.names) names.push_back(name.substr(0, 10) + " ");
  append(out, wrapped(" Column:    ", 6, " ", 7, names));
  std::vector<std::string> flags;
  for (int c : r.codes) flags.push_back(fieldI(c, 11));
  // Further flag lines start with a narrower field.
  std::vector<std::string> flagLines = wrapped(" Flag:  ", 6, " ", 7, flags);
  for (std::size_t k = 1; k < flagLines.size(); ++k) {
    std::string& line = flagLines[k];
    line = " " + line.substr(1 + 4);  // first field I7 instead of I11
  }
  append(out, flagLines);
  for (int i = 0; i < rows; ++i) append(out, echoRow(r, i));
  // A free-form line whose text itself starts with a blank.
  if (screen) out.push_back("  ...");
  return out;
}

namespace {

std::vector<std::string> depRows(const Reference& r, int rows) {
  std::vector<std::string> out;
  for (int i = 0; i < rows; ++i)
    out.push_back(" " + fieldI(i + 1, 4) + " " + e11(r.y[i]) + " " + e11(r.ty[i]) + " " +
                  e11(r.yEq[i]));
  return out;
}

std::vector<std::string> indepRowsSmall(const Reference& r, int rows) {
  std::vector<std::string> out;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < r.p; ++j) {
      std::string line = j == 0 ? " " + fieldI(i + 1, 4) : std::string();
      line += " " + e11(at(r.x, r.n, i, j)) + " " + e11(at(r.tx, r.n, i, j)) + " " +
              e11(at(r.xEq, r.n, i, j));
      out.push_back(line);
    }
  }
  return out;
}

std::vector<std::string> indepRowsLarge(const Reference& r, const std::vector<double>& v,
                                        int rows) {
  std::vector<std::string> out;
  for (int i = 0; i < rows; ++i) {
    std::vector<std::string> fields;
    for (int j = 0; j < r.p; ++j) fields.push_back(e11(at(v, r.n, i, j)));
    append(out, wrapped(" " + fieldI(i + 1, 4), 6, "     ", 6, fields));
  }
  return out;
}

}  // namespace

namespace {

// The closing report as both destinations receive it, interleaved in the
// order of writing: screen and log copies are split by the callers.
struct Closing {
  std::vector<std::string> screen, log;
};

Closing closing(const Reference& r) {
  Closing c;
  const int s = std::min(r.n, 3);
  const std::string fin = " FINAL SQUARED CORRELATION =" + app::fieldF(r.rsq, 7, 4);
  c.screen.push_back(fin);
  c.log.push_back(fin);
  const std::string depHead = " ORIGINAL, TRANSFORMED AND EQUILIBRATED DEPENDENT VARIABLE";
  c.screen.push_back("");
  c.screen.push_back(depHead);
  append(c.screen, depRows(r, s));
  c.log.push_back("");
  c.log.push_back(depHead);
  append(c.log, depRows(r, r.n));
  if (r.p < 3) {
    const std::string head = " ORIGINAL, TRANSFORMED AND EQUILIBRATED INDEPENDENT VARIABLES";
    for (auto* out : {&c.screen, &c.log}) {
      out->push_back("");
      out->push_back(head);
    }
    append(c.screen, indepRowsSmall(r, s));
    append(c.log, indepRowsSmall(r, r.n));
  } else {
    const std::string heads[2] = {" TRANSFORMED INDEPENDENT VARIABLES ",
                                  " EQUILIBRATED INDEPENDENT VARIABLES "};
    const std::vector<double>* values[2] = {&r.tx, &r.xEq};
    for (int t = 0; t < 2; ++t) {
      for (auto* out : {&c.screen, &c.log}) {
        out->push_back("");
        out->push_back(heads[t]);
      }
      append(c.screen, indepRowsLarge(r, *values[t], s));
      append(c.log, indepRowsLarge(r, *values[t], r.n));
    }
  }
  return c;
}

std::vector<std::string> statsLines(const Reference& r) {
  std::vector<std::string> out;
  if (!r.prediction) return out;
  out.push_back(" Avedev=" + fieldG(r.Avedev, 11, 3) + "   Stdev=" + fieldG(r.Stdev, 11, 3) +
                "   Bias=" + fieldG(r.Bias, 11, 3));
  if (r.logResponse) {
    out.push_back(" Exp_Avedev=" + fieldG(r.ExpAvedev, 11, 3) + "   Exp_Stdev=" +
                  fieldG(r.ExpStdev, 11, 3) + "   Exp_Bias=" + fieldG(r.ExpBias, 11, 3));
    out.push_back(" Exp_Avedev%=" + fieldG(r.ExpAvedevPct, 11, 3) + "   Exp_Stdev%=" +
                  fieldG(r.ExpStdevPct, 11, 3) + "   Exp_Bias%=" + fieldG(r.ExpBiasPct, 11, 3));
  }
  return out;
}

}  // namespace

std::vector<std::string> expectedRunLog(const Reference& r) {
  std::vector<std::string> out = expectedEchoLines(r, r.n, false);
  if (r.equilibration) out.push_back("  EQUILIBRATION IS ENABLED");
  append(out, statsLines(r));
  append(out, closing(r).log);
  return out;
}

std::vector<std::string> expectedRunScreen(const Reference& r) {
  std::vector<std::string> out = expectedEchoLines(r, std::min(r.n, 3), true);
  append(out, r.engineLines);
  if (r.equilibration) out.push_back("  EQUILIBRATION IS ENABLED");
  // The numeric stages' messages come before the statistics they belong to.
  append(out, r.numericLines);
  append(out, statsLines(r));
  append(out, closing(r).screen);
  out.push_back(" Taveltr.xls is done");
  if (r.equilibration) out.push_back(" Tavelcr.xls is done");
  return out;
}

std::vector<std::string> expectedTransformSheet(const Reference& r) {
  std::vector<std::string> out;
  out.push_back(fieldI(r.n, 5) + "\t" + fieldI(r.p, 5) + "\t");
  std::string titles;
  for (int j = 0; j <= r.p; ++j) {
    const std::string name = trimRight(r.names[j]);
    titles += name + "\t" + name + "_Tr\t";
  }
  const std::string dep = trimRight(r.names[r.p]);
  titles += "Sum_Tr_Indep\t" + dep + "_Meas\t" + dep + "_Calc_Inv_Tr\t";
  if (r.logResponse) {
    const std::string raw = trimRight(r.names[r.p].substr(4));
    titles += raw + "_Meas\t" + raw + "_Calc_Inv_Tr\t";
  }
  out.push_back(titles);
  auto e15 = [](double v) { return fieldE(v, 15, 5) + "\t"; };
  for (int i = 0; i < r.n; ++i) {
    std::string line;
    for (int j = 0; j < r.p; ++j) line += e15(at(r.x, r.n, i, j)) + e15(at(r.tx, r.n, i, j));
    const double s = r.prediction ? r.sumTx[i] : 0.0;
    const double q = r.prediction ? r.yPred[i] : 0.0;
    line += e15(r.y[i]) + e15(r.ty[i]) + e15(s) + e15(r.y[i]) + e15(q);
    if (r.logResponse) line += e15(std::exp(r.y[i])) + e15(std::exp(q));
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> expectedCorrectionSheet(const Reference& r) {
  std::vector<std::string> out;
  out.push_back(fieldI(r.n, 5) + "\t" + fieldI(r.p, 5) + "\t");
  std::string titles;
  for (int j = 0; j <= r.p; ++j) {
    const std::string name = trimRight(r.names[j]);
    titles += name + "\t" + name + "_Corr\t";
  }
  out.push_back(titles);
  auto e15 = [](double v) { return fieldE(v, 15, 5) + "\t"; };
  for (int i = 0; i < r.n; ++i) {
    std::string line;
    for (int j = 0; j < r.p; ++j) line += e15(at(r.x, r.n, i, j)) + e15(at(r.xEq, r.n, i, j));
    line += e15(r.y[i]) + e15(r.yEq[i]);
    out.push_back(line);
  }
  return out;
}

}  // namespace tavel::run::testing
