// tavel-batch: the commands a user gives in the GUI (Input Dat File, Prepare,
// Options, Run), performed without a display. The lines of the main output
// window go to standard output; the log, spreadsheets and pictures are the
// files the GUI writes for the same choices.
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/model_commands.h"
#include "app/records.h"
#include "app/shell.h"
#include "platform/headless/headless_runtime.h"
#include "platform/qt/qimage_canvas.h"
#include "run/run_command.h"

namespace {

using tavel::platform::headless::DialogAction;
using tavel::platform::headless::DialogScript;
using tavel::platform::headless::ScriptedDialog;

constexpr int kPrepareDialog = 101;
constexpr int kOptionsDialog = 107;
constexpr int kColumnList = 1016;
constexpr int kIncludeList = 1017;
constexpr int kIncludeButton = 1018;
constexpr int kFirstRadioMinusOne = 1051;
constexpr int kFlagRadioBase = 1172;
constexpr int kEquilibrationBox = 1180;
constexpr int kCapturesBox = 1181;
constexpr int kNumTermBox = 1178;
constexpr int kDelRsqBox = 1179;
constexpr int kOkButton = 1;
constexpr int kCvFoldsBox = 1182;

const char kUsage[] =
    "usage: tavel-batch [options] DATAFILE\n"
    "       tavel-batch --model FILE --predict DATAFILE [--outdir DIR]\n"
    "  --dep NAME          dependent variable (a column name, or _ln_NAME); default: the last file "
    "column\n"
    "  --indep NAME        an independent variable; repeat it; default: every other file column\n"
    "  --flag NAME=CODE    type flag of a chosen variable: 1-5 or orderable, circular, monotone, "
    "linear,\n"
    "                      unorderable; default 1 for independents and 3 for the dependent\n"
    "  --numterm N         NumTerm (default 2)\n"
    "  --delrsq X          DelRsq (default: the value the scan sets)\n"
    "  --equilibration     run the equilibration stage\n"
    "  --captures          save every plot as pic_?.bmp\n"
    "  --outdir DIR        folder for the log, spreadsheets and pictures (default: the current "
    "folder)\n"
    "  --cv K              cross-validate the fit in K folds (2 to the number of rows)\n"
    "  --save-model FILE   write the fitted model as JSON\n"
    "  --model FILE        with --predict: the model file to apply\n"
    "  --predict DATAFILE  with --model: predict the rows of DATAFILE into Tavelpr.xls\n"
    "  --help, --version\n";

struct Options {
  std::string dataFile;
  std::optional<std::string> dep;
  std::vector<std::string> indep;
  std::vector<std::pair<std::string, int>> flags;
  std::optional<std::string> numTerm;
  std::optional<std::string> delRsq;
  bool equilibration = false;
  bool captures = false;
  std::string outDir = ".";
  std::optional<std::string> cvFolds;
  std::optional<std::string> saveModel;
  std::optional<std::string> model;
  std::optional<std::string> predict;
};

int usageError(const std::string& message) {
  std::cerr << "tavel-batch: " << message << "\n" << kUsage;
  return 2;
}

int cannotRun(const std::string& message) {
  std::cout.flush();
  std::cerr << "tavel-batch: " << message << "\n";
  return 1;
}

std::optional<int> flagCode(const std::string& text) {
  static const std::map<std::string, int> names = {
      {"orderable", 1}, {"circular", 2}, {"monotone", 3}, {"linear", 4}, {"unorderable", 5},
      {"1", 1},         {"2", 2},        {"3", 3},        {"4", 4},      {"5", 5}};
  auto it = names.find(text);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

std::string trimRight(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return std::string(s.substr(0, n));
}

// Parses the command line; returns an exit status when the program should stop.
std::optional<int> parse(int argc, char** argv, Options& o) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) -> bool {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "tavel-batch 1.0\n";
      return 0;
    } else if (a == "--dep") {
      if (!value(v)) return usageError("--dep needs a name");
      o.dep = v;
    } else if (a == "--indep") {
      if (!value(v)) return usageError("--indep needs a name");
      o.indep.push_back(v);
    } else if (a == "--flag") {
      if (!value(v)) return usageError("--flag needs NAME=CODE");
      const auto eq = v.rfind('=');
      if (eq == std::string::npos || eq == 0) return usageError("--flag needs NAME=CODE");
      const auto code = flagCode(v.substr(eq + 1));
      if (!code) return usageError("unknown flag code '" + v.substr(eq + 1) + "'");
      o.flags.emplace_back(v.substr(0, eq), *code);
    } else if (a == "--numterm") {
      if (!value(v)) return usageError("--numterm needs a number");
      o.numTerm = v;
    } else if (a == "--delrsq") {
      if (!value(v)) return usageError("--delrsq needs a number");
      o.delRsq = v;
    } else if (a == "--equilibration") {
      o.equilibration = true;
    } else if (a == "--captures") {
      o.captures = true;
    } else if (a == "--outdir") {
      if (!value(v)) return usageError("--outdir needs a folder");
      o.outDir = v;
    } else if (a == "--cv") {
      if (!value(v)) return usageError("--cv needs a number of folds");
      o.cvFolds = v;
    } else if (a == "--save-model") {
      if (!value(v)) return usageError("--save-model needs a file name");
      o.saveModel = v;
    } else if (a == "--model") {
      if (!value(v)) return usageError("--model needs a model file");
      o.model = v;
    } else if (a == "--predict") {
      if (!value(v)) return usageError("--predict needs a data file");
      o.predict = v;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return usageError("unknown option '" + a + "'");
    } else if (o.dataFile.empty()) {
      o.dataFile = a;
    } else {
      return usageError("more than one data file given");
    }
  }
  if (o.model || o.predict) {
    if (!o.model || !o.predict) return usageError("--model and --predict go together");
    if (!o.dataFile.empty() || !o.indep.empty() || o.dep || o.cvFolds || o.saveModel)
      return usageError("--model/--predict take no DATAFILE and no fitting options");
    return std::nullopt;
  }
  if (o.cvFolds) {
    int k = 0;
    const auto r = std::from_chars(o.cvFolds->data(), o.cvFolds->data() + o.cvFolds->size(), k);
    if (r.ec != std::errc() || r.ptr != o.cvFolds->data() + o.cvFolds->size() || k < 2)
      return usageError("--cv needs a whole number of folds from 2 up");
  }
  if (o.dataFile.empty()) return usageError("no data file given");
  return std::nullopt;
}

}  // namespace

// --model FILE --predict DATAFILE: applies a saved model to new rows.
int predictWithModel(const Options& o) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(o.outDir, ec);
  if (!fs::is_directory(o.outDir, ec))
    return cannotRun("cannot use output folder '" + o.outDir + "'");
  tavel::platform::headless::HeadlessRuntime runtime(fs::absolute(o.outDir, ec).string());
  runtime.setScreenSink([](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  tavel::app::AppState state;
  if (!tavel::app::openModel(runtime, state, fs::absolute(*o.model, ec).string()) ||
      !tavel::app::predictDataFile(runtime, state, *state.model,
                                   fs::absolute(*o.predict, ec).string()))
    return cannotRun(state.problems.empty() ? "nothing predicted" : state.problems.back());
  std::fflush(stdout);
  return 0;
}

int main(int argc, char** argv) {
  Options o;
  if (auto status = parse(argc, argv, o)) return *status;
  if (o.model) return predictWithModel(o);

  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(o.dataFile, ec) || fs::is_directory(o.dataFile, ec))
    return cannotRun("cannot read data file '" + o.dataFile + "'");
  const std::string dataPath = fs::absolute(o.dataFile, ec).string();
  if (dataPath.size() >= static_cast<std::size_t>(tavel::app::kFileNameLength))
    return cannotRun("the data file's path must be shorter than 100 characters: " + dataPath);
  fs::create_directories(o.outDir, ec);
  if (!fs::is_directory(o.outDir, ec))
    return cannotRun("cannot use output folder '" + o.outDir + "'");

  // Pictures are drawn on a QImage, which needs the GUI library but no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    // A private folder keeps Qt from warning on every start.
    const std::string dir = "/tmp/tavel-runtime-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    ::chmod(dir.c_str(), 0700);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
  }
  QGuiApplication qapp(argc, argv);

  tavel::platform::headless::HeadlessRuntime runtime(fs::absolute(o.outDir, ec).string(), [] {
    return std::make_unique<tavel::platform::qt::QImageCanvas>();
  });
  runtime.setScreenSink([](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  if (!shell.buildMenus()) return cannotRun("the menus could not be built");
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  shell.startUp();

  // Input Dat File, with the Prepare dialog that follows the scan.
  std::string problem;
  std::vector<std::string> chosen;  // every included variable, dependent last
  runtime.queueFileChoice(dataPath);
  runtime.queueDialogScript(
      kPrepareDialog, {DialogAction::run([&](ScriptedDialog& d) {
        const tavel::app::DataTable& t = state.data;
        auto exists = [&](const std::string& name) {
          for (int v = 1; v <= t.numCol; ++v)
            if (trimRight(t.colName[v - 1]) == name) return true;
          return false;
        };
        std::string dep = o.dep ? *o.dep : trimRight(t.colName[t.numCol1 - 1]);
        std::vector<std::string> indep = o.indep;
        if (indep.empty()) {
          for (int v = 1; v <= t.numCol1; ++v)
            if (trimRight(t.colName[v - 1]) != dep) indep.push_back(trimRight(t.colName[v - 1]));
        }
        for (const std::string& name : indep)
          if (!exists(name)) problem = "unknown variable '" + name + "'";
        if (!exists(dep)) problem = "unknown variable '" + dep + "'";
        if (!problem.empty()) return;
        chosen = indep;
        chosen.push_back(dep);
        d.play(DialogAction::select(kColumnList, chosen));
        d.play(DialogAction::press(kIncludeButton));
        const std::vector<std::string> rows = d.items(kIncludeList);
        for (std::size_t r = 0; r < rows.size(); ++r)
          if (trimRight(rows[r]) == dep)
            d.play(DialogAction::clickRadio(kFirstRadioMinusOne + static_cast<int>(r) + 1));
      })});
  runtime.invokeMenu("&Input Dat File...");
  if (state.data.nRows == 0) return cannotRun("no data rows in '" + o.dataFile + "'");
  if (!problem.empty()) return cannotRun(problem);
  if (state.selection.p < 1) return cannotRun("choose at least two variables");

  // Options, only when an option was given.
  if (!o.flags.empty() || o.numTerm || o.delRsq || o.equilibration || o.captures || o.cvFolds) {
    DialogScript script;
    for (const auto& [name, code] : o.flags) {
      if (std::find(chosen.begin(), chosen.end(), name) == chosen.end())
        return cannotRun("--flag names '" + name + "', which is not a chosen variable");
      script.push_back(DialogAction::select(kColumnList, {name}));
      script.push_back(DialogAction::clickRadio(kFlagRadioBase + code));
    }
    script.push_back(DialogAction::check(kEquilibrationBox, o.equilibration));
    script.push_back(DialogAction::check(kCapturesBox, o.captures));
    if (o.numTerm) script.push_back(DialogAction::type(kNumTermBox, *o.numTerm));
    if (o.delRsq) script.push_back(DialogAction::type(kDelRsqBox, *o.delRsq));
    if (o.cvFolds) script.push_back(DialogAction::type(kCvFoldsBox, *o.cvFolds));
    script.push_back(DialogAction::press(kOkButton));
    runtime.queueDialogScript(kOptionsDialog, std::move(script));
    runtime.invokeMenu("&Options");
  }

  runtime.invokeMenu("&Run");
  std::fflush(stdout);
  if (state.data.nRows < 5)
    return cannotRun("the analysis needs at least 5 observations; the file has " +
                     std::to_string(state.data.nRows));
  // The model and cross-validation of the fit.
  if (o.cvFolds && state.options.CvFolds == 0)
    return cannotRun("--cv " + *o.cvFolds + " was not taken by the options");
  for (const std::string& problem : state.problems) {
    if (problem.find("cross-validation") != std::string::npos) return cannotRun(problem);
  }
  if (o.saveModel) {
    if (!state.model) return cannotRun("the analysis did not finish: no model to save");
    if (!tavel::app::saveModel(runtime, state, fs::absolute(*o.saveModel, ec).string()))
      return cannotRun(state.problems.back());
  }
  return 0;
}
