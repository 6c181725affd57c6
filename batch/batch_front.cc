// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_front.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "app/data_file.h"
#include "app/model_commands.h"
#include "app/options_dialog.h"
#include "app/prepare_dialog.h"
#include "app/results_export.h"
#include "app/sheet_dialog.h"
#include "app/workbook.h"
#include "batch/private_folder.h"
#include "model/cross_validation.h"
#include "platform/file_units.h"
#include "platform/headless/scripted_dialog.h"
#include "run/report.h"
#include "run/run_command.h"
#include "tavel_version.h"

namespace tavel::batch {
namespace {

namespace fs = std::filesystem;
using platform::headless::DialogAction;
using platform::headless::DialogScript;
using platform::headless::ScriptedDialog;

// The help text; the defaults and file names it gives are the program's own.
const std::string& usageText() {
  static const std::string text =
      "usage: tavel-batch [options] DATAFILE     (DATAFILE - reads standard input)\n"
      "       tavel-batch --model FILE --predict DATAFILE [--outdir DIR]\n"
      "  --dep NAME          dependent variable (a column name, or _ln_NAME); default: the last "
      "file column\n"
      "  --indep NAME        an independent variable; repeat it; default: every other file "
      "column\n"
      "                      but the dependent's own (Y for --dep _ln_Y); neither may be named\n"
      "  --flag NAME=CODE    type flag of a chosen variable: 1-5 or orderable, circular, "
      "monotone, linear,\n"
      "                      unorderable; default " +
      std::to_string(app::kOrderable) + " for independents and " + std::to_string(app::kMonotone) +
      " for the dependent\n"
      "  --numterm N         NumTerm, a whole number of at least 1 (default " +
      std::to_string(app::RunOptions{}.NumTerm) +
      ")\n"
      "  --delrsq X          DelRsq, a finite number (default: the value the scan sets)\n"
      "  --equilibration     run the equilibration stage (every variable must be monotone)\n"
      "  --captures          save every plot as pic_?.bmp\n"
      "  --csv               read the data file as CSV whatever its name (a .csv file always "
      "is)\n"
      "  --tsv               read the data file as CSV with tabs whatever its name (a .tsv or "
      ".tab file\n"
      "                      always is)\n"
      "  --sheet NAME|N      the worksheet of an .xlsx or .ods data file (or --predict file) to "
      "read,\n"
      "                      by name or 1-based number (default: the first)\n"
      "  --outdir DIR        folder for the log, spreadsheets and pictures (default: the "
      "current folder)\n"
      "  --cv K              cross-validate the fit in K folds (2 to the number of rows)\n"
      "  --bass B            the supersmoother's bass, 0 to 10 (default 5; higher is smoother)\n"
      "  --span S            a fixed span of the supersmoother, 0 to 1 (default 0: adaptive)\n"
      "  --tune              with --cv: choose the smoothness by cross-validation (bass 0, 2, 5,\n"
      "                      8, 10 and every Orderable independent Linear Tr), then run with "
      "it\n"
      "  --extrapolate RULE  a score beyond the fitted range of the dependent's "
      "transformation, in\n"
      "                      predictions and cross-validation: hold (default: the nearer "
      "end of the\n"
      "                      observed range) or linear (the end interval extended); with "
      "--model it\n"
      "                      replaces the model file's rule\n"
      "  --save-model FILE   write the fitted model as JSON\n"
      "  --export FILE       write the results as a table: FILE.xlsx (sheets results and "
      "summary),\n"
      "                      or FILE.csv and FILE.summary.csv\n"
      "  --model FILE        with --predict: the model file to apply\n"
      "  --predict DATAFILE  with --model: predict the rows of DATAFILE into " +
      std::string(app::kPredictionSheetName) +
      "\n"
      "  --timings           say on standard error how long each stage took\n"
      "  --help, -h, --version\n";
  return text;
}

struct Options {
  std::string dataFile;
  std::optional<std::string> dep;
  std::vector<std::string> indep;
  std::vector<std::pair<std::string, int>> flags;
  std::optional<int> numTerm;
  std::optional<double> delRsq;
  bool equilibration = false;
  bool captures = false;
  bool csv = false;
  bool tsv = false;
  std::optional<std::string> sheet;
  std::optional<std::string> outDir;
  std::optional<int> cvFolds;
  std::optional<double> bass;
  std::optional<double> span;
  bool tune = false;
  std::optional<model::Extrapolation> extrapolate;
  std::optional<std::string> saveModel;
  std::optional<std::string> exportTo;
  std::optional<std::string> model;
  std::optional<std::string> predict;
  bool timings = false;
};

class Reporter {
 public:
  explicit Reporter(const BatchIo& io) : io_(io) {}
  void out(std::string_view text) const {
    if (io_.out) io_.out(text);
  }
  int usage(const std::string& message) const {
    err("tavel-batch: " + message + "\n" + usageText());
    return kExitUsage;
  }
  int failed(const std::string& message) const { return failed(std::vector{message}); }
  int failed(const std::vector<std::string>& messages) const {
    for (const std::string& m : messages) {
      err("tavel-batch: " + m + "\n");
      said_.push_back(m);
    }
    return kExitFailed;
  }
  // Whether a refusal so far has named this text.
  bool mentioned(std::string_view text) const {
    return std::any_of(said_.begin(), said_.end(),
                       [&](const std::string& m) { return m.find(text) != std::string::npos; });
  }
  void warn(const std::string& message) const { err("tavel-batch: warning: " + message + "\n"); }

 private:
  void err(const std::string& text) const {
    if (io_.err) io_.err(text);
  }
  const BatchIo& io_;
  mutable std::vector<std::string> said_;
};

std::optional<int> flagCode(const std::string& text) {
  static const std::map<std::string, int> names = {{"orderable", app::kOrderable},
                                                   {"circular", app::kCircular},
                                                   {"monotone", app::kMonotone},
                                                   {"linear", app::kLinear},
                                                   {"unorderable", app::kUnorderable},
                                                   {"1", app::kOrderable},
                                                   {"2", app::kCircular},
                                                   {"3", app::kMonotone},
                                                   {"4", app::kLinear},
                                                   {"5", app::kUnorderable}};
  auto it = names.find(text);
  if (it == names.end()) return std::nullopt;
  return it->second;
}

// The whole text must be the number: "2.5", "3x" and "" are not whole numbers.
std::optional<int> wholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> finiteNumber(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

// Reads the command line; an exit status when the program should stop.
std::optional<int> parse(const std::vector<std::string>& args, Options& o, const Reporter& r) {
  bool optionsEnded = false;
  bool haveFile = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    auto value = [&]() -> bool {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    // An option taking a whole number of at least `least`, given once.
    auto whole = [&](std::optional<int>& target, int least,
                     const std::string& what) -> std::optional<int> {
      if (!value()) return r.usage(a + " needs " + what);
      const auto n = wholeNumber(v);
      if (!n || *n < least) return r.usage(a + " needs " + what + ", not " + inQuotes(v));
      if (target) return r.usage(a + " given twice");
      target = n;
      return std::nullopt;
    };
    if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
      if (haveFile) return r.usage("more than one data file given");
      o.dataFile = a;
      haveFile = true;
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--help" || a == "-h") {
      r.out(usageText());
      return kExitDone;
    } else if (a == "--version") {
      r.out("tavel-batch " + std::string(kVersion) + "\n");
      return kExitDone;
    } else if (a == "--dep") {
      if (!value()) return r.usage("--dep needs a name");
      if (o.dep) return r.usage("--dep given twice; the analysis has one dependent variable");
      o.dep = v;
    } else if (a == "--indep") {
      if (!value()) return r.usage("--indep needs a name");
      o.indep.push_back(v);
    } else if (a == "--flag") {
      if (!value()) return r.usage("--flag needs NAME=CODE");
      const auto eq = v.rfind('=');
      if (eq == std::string::npos || eq == 0) return r.usage("--flag needs NAME=CODE");
      const auto code = flagCode(v.substr(eq + 1));
      if (!code) return r.usage("--flag: unknown flag code " + inQuotes(v.substr(eq + 1)));
      o.flags.emplace_back(v.substr(0, eq), *code);
    } else if (a == "--numterm") {
      if (auto status = whole(o.numTerm, 1, "a whole number of at least 1")) return status;
    } else if (a == "--delrsq") {
      if (!value()) return r.usage("--delrsq needs a finite number");
      const auto x = finiteNumber(v);
      if (!x) return r.usage("--delrsq needs a finite number such as 1e-4, not " + inQuotes(v));
      if (o.delRsq) return r.usage("--delrsq given twice");
      o.delRsq = x;
    } else if (a == "--equilibration") {
      o.equilibration = true;
    } else if (a == "--captures") {
      o.captures = true;
    } else if (a == "--csv") {
      o.csv = true;
    } else if (a == "--tsv") {
      o.tsv = true;
    } else if (a == "--sheet") {
      if (!value() || v.empty()) return r.usage("--sheet needs a sheet name or number");
      if (o.sheet) return r.usage("--sheet given twice");
      o.sheet = v;
    } else if (a == "--outdir") {
      if (!value() || v.empty()) return r.usage("--outdir needs a folder");
      if (o.outDir) return r.usage("--outdir given twice");
      o.outDir = v;
    } else if (a == "--cv") {
      if (auto status = whole(o.cvFolds, 2, "a whole number of folds from 2 up")) return status;
    } else if (a == "--bass" || a == "--span") {
      const bool bass = a == "--bass";
      const double most = bass ? app::kMaxBass : 1.0;
      const std::string what =
          bass ? "a number from 0 to 10, such as 2.5" : "a number from 0 to 1, such as 0.3";
      if (!value()) return r.usage(a + " needs " + what);
      const auto x = finiteNumber(v);
      if (!x || *x < 0.0 || *x > most)
        return r.usage(a + " needs " + what + ", not " + inQuotes(v));
      std::optional<double>& target = bass ? o.bass : o.span;
      if (target) return r.usage(a + " given twice");
      target = x;
    } else if (a == "--tune") {
      o.tune = true;
    } else if (a == "--timings") {
      o.timings = true;
    } else if (a == "--extrapolate") {
      if (!value()) return r.usage("--extrapolate needs hold or linear");
      if (v != "hold" && v != "linear")
        return r.usage("--extrapolate needs hold or linear, not " + inQuotes(v));
      if (o.extrapolate) return r.usage("--extrapolate given twice");
      o.extrapolate = v == "linear" ? model::Extrapolation::Linear : model::Extrapolation::Hold;
    } else if (a == "--save-model") {
      if (!value() || v.empty()) return r.usage("--save-model needs a file name");
      if (o.saveModel) return r.usage("--save-model given twice");
      o.saveModel = v;
    } else if (a == "--export") {
      if (!value() || !(app::isXlsxExportName(v) || app::isCsvFileName(v)))
        return r.usage("--export needs a file name ending in .xlsx or .csv");
      if (o.exportTo) return r.usage("--export given twice");
      o.exportTo = v;
    } else if (a == "--model") {
      if (!value() || v.empty()) return r.usage("--model needs a model file");
      if (o.model) return r.usage("--model given twice");
      o.model = v;
    } else if (a == "--predict") {
      if (!value() || v.empty()) return r.usage("--predict needs a data file");
      if (o.predict) return r.usage("--predict given twice");
      o.predict = v;
    } else {
      return r.usage("unknown option " + inQuotes(a));
    }
  }
  if (o.csv && o.tsv)
    return r.usage("--csv and --tsv go against each other: a file has one separator");
  if (o.tune && !o.cvFolds) return r.usage("--tune needs --cv K: the folds score the candidates");
  if (o.tune && (o.bass || o.span))
    return r.usage("--tune chooses the smoothness itself: give it without --bass and --span");
  if (o.sheet && !app::isWorkbookFileName(o.predict.value_or(o.dataFile)))
    return r.usage("--sheet is for a workbook (.xlsx or .ods), not " +
                   inQuotes(o.predict.value_or(o.dataFile)));
  if (o.model || o.predict) {
    if (!o.model || !o.predict) return r.usage("--model and --predict go together");
    if (haveFile || !o.indep.empty() || o.dep || o.cvFolds || o.saveModel || o.exportTo ||
        !o.flags.empty() || o.numTerm || o.delRsq || o.equilibration || o.captures || o.bass ||
        o.span || o.tune)
      return r.usage("--model/--predict take no DATAFILE and no fitting options");
    return std::nullopt;
  }
  if (!haveFile) return r.usage("no data file given");
  return std::nullopt;
}

// ---- The data file

bool copyStream(int from, const std::string& to, std::string& problem) {
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    problem = "cannot make a temporary copy: " + std::string(std::strerror(errno));
    return false;
  }
  std::array<char, 1 << 16> buf;
  long long total = 0;
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(from, buf.data(), buf.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = "cannot read it: " + std::string(std::strerror(errno));
      ok = false;
      break;
    }
    if (got == 0) break;
    total += got;
    if (total > kMaxStreamBytes) {
      problem = "it holds more than 1 GiB; save it in a file and name that file";
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buf.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        problem = "cannot make a temporary copy: " + std::string(std::strerror(errno));
        ::close(out);
        return false;
      }
      done += put;
    }
  }
  if (::close(out) != 0 && ok) {
    problem = "cannot make a temporary copy: " + std::string(std::strerror(errno));
    ok = false;
  }
  return ok;
}

// The file the scan and the Run read. A regular file is read where it is;
// standard input, a pipe, a FIFO or a terminal is first copied into a private
// folder, because the Run reads the data a second time after the scan.
class DataInput {
 public:
  // An empty result with `problem` set when the input is refused.
  std::string prepare(const std::string& arg, int inputFd, std::string& problem) {
    if (arg == "-") {
      display_ = "standard input";
      struct stat st {};
      if (::fstat(inputFd, &st) != 0) {
        problem = "cannot read standard input: " + std::string(std::strerror(errno));
        return {};
      }
      if (refusedKind(st, inputFd, problem)) return {};
      return copy(inputFd, problem);
    }
    display_ = inQuotes(arg);
    struct stat st {};
    if (::stat(arg.c_str(), &st) != 0) {
      problem = "cannot read data file " + display_ + ": " + std::strerror(errno);
      return {};
    }
    if (S_ISREG(st.st_mode)) {
      const int fd = ::open(arg.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) {
        problem = "cannot read data file " + display_ + ": " + std::strerror(errno);
        return {};
      }
      ::close(fd);
      std::error_code ec;
      const std::string path = fs::absolute(arg, ec).string();
      if (ec) problem = "cannot read data file " + display_;
      return path;
    }
    if (S_ISDIR(st.st_mode)) {
      problem = display_ + " is a folder, not a data file";
      return {};
    }
    // A FIFO waits here for its writer, as any reader of a FIFO does.
    const int fd = ::open(arg.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      problem = "cannot read data file " + display_ + ": " + std::strerror(errno);
      return {};
    }
    std::string path;
    if (::fstat(fd, &st) == 0 && !refusedKind(st, fd, problem)) path = copy(fd, problem);
    ::close(fd);
    return path;
  }

  // How the messages name the data file.
  const std::string& display() const { return display_; }
  // True when the Run reads a private copy, which no output can be.
  bool copied() const { return folder_ != nullptr; }

 private:
  // Devices other than a terminal (/dev/zero, a disk) never end like a file.
  bool refusedKind(const struct stat& st, int fd, std::string& problem) {
    const bool device = S_ISBLK(st.st_mode) || (S_ISCHR(st.st_mode) && !::isatty(fd));
    if (device) problem = display_ + " is a device, not a data file";
    if (S_ISDIR(st.st_mode)) problem = display_ + " is a folder, not a data file";
    return !problem.empty();
  }

  std::string copy(int fd, std::string& problem) {
    folder_ = PrivateFolder::create("tavel-batch-");
    std::string path = folder_ ? folder_->file("input.dat") : std::string();
    std::string why;
    if (path.empty()) why = "cannot make a private temporary folder";
    if (!path.empty() && copyStream(fd, path, why)) return path;
    problem = "cannot read " + display_ + ": " + why;
    return {};
  }

  std::string display_;
  std::unique_ptr<PrivateFolder> folder_;
};

// ---- Output files

// A file the run writes must be a regular file (or not exist yet): a FIFO
// would hang the run, a folder or a device would swallow or refuse the
// results after the analysis.
std::optional<std::string> unusableOutput(const fs::path& dir, std::string_view name) {
  const fs::path path = dir / name;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return std::string(name) + " in " + inQuotes(dir.string()) +
           " cannot be used: " + std::strerror(errno);
  }
  if (S_ISREG(st.st_mode)) return std::nullopt;
  return std::string(name) + " in " + inQuotes(dir.string()) + " is " +
         platform::describePath(path.string()) +
         ", not a regular file; move it away or choose another --outdir";
}

// --save-model FILE (and --export FILE) must be a regular file or a new name
// in a folder that exists; known before anything runs, so nothing is fitted
// in vain.
std::optional<std::string> unusableModelTarget(const std::string& arg,
                                               const std::string& option = "--save-model") {
  std::error_code ec;
  const fs::path path = fs::absolute(arg, ec);
  const std::string kind = platform::describePath(path.string());
  if (kind != "missing" && kind != "a regular file" && kind != "a link to nowhere")
    return option + " " + inQuotes(arg) + " is " + kind + ", not a regular file";
  if (!fs::is_directory(path.parent_path(), ec))
    return option + " " + inQuotes(arg) + ": the folder " + inQuotes(path.parent_path().string()) +
           " does not exist";
  return std::nullopt;
}

// A file the command line reads or writes, and how the messages name it.
struct FileRole {
  std::string role;  // "the data file", "the run log", ...
  std::string path;
};

// No output may take the place of an input or of another output: compared
// by the folders' real names and by device and inode, so a hard link or a
// second spelling of a path is caught as well as the same name.
std::optional<std::string> clashingFiles(const std::vector<FileRole>& inputs,
                                         const std::vector<FileRole>& outputs) {
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const FileRole& out = outputs[k];
    for (const FileRole& in : inputs)
      if (platform::wouldReplace(out.path, in.path))
        return out.role + " " + inQuotes(out.path) + " would replace " + in.role + " " +
               inQuotes(in.path);
    for (std::size_t m = 0; m < k; ++m)
      if (platform::wouldReplace(out.path, outputs[m].path))
        return out.role + " " + inQuotes(out.path) + " is also " + outputs[m].role + " " +
               inQuotes(outputs[m].path);
  }
  return std::nullopt;
}

// Tells whether the run replaced a file: the spreadsheets are renamed into
// place, so a new file has a new inode and change time.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec ctime {};

  static FileStamp of(const fs::path& path) {
    FileStamp s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.ctime = st.st_ctim;
    return s;
  }
  bool sameAs(const FileStamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

// ---- The variables

struct Request {
  std::string dep;
  std::vector<std::string> indep;
};

// The variables asked for (or the defaults), checked against the scanned
// names; an empty text when the Prepare step can choose exactly these.
std::string resolveRequest(const app::DataTable& t, const Options& o, const std::string& display,
                           Request& request) {
  if (t.numCol1 < 1) return "no column names in the first line of " + display;
  auto name = [&t](int v) {
    return std::string(run::trimmedName(t.colName[static_cast<std::size_t>(v - 1)]));
  };
  request.dep = o.dep ? *o.dep : name(t.numCol1);
  // The dependent's other scale (Y for _ln_Y, _ln_Y for Y) holds the same
  // information: never a default independent, and refused when named.
  std::string twin;
  for (int v = 1; v <= t.numCol && v <= static_cast<int>(t.colName.size()); ++v)
    if (name(v) == request.dep && run::logTwin(t, v) != 0) twin = name(run::logTwin(t, v));
  request.indep = o.indep;
  if (o.indep.empty()) {
    for (int v = 1; v <= t.numCol1; ++v)
      if (name(v) != request.dep && name(v) != twin) request.indep.push_back(name(v));
  }
  const int chosen = static_cast<int>(request.indep.size()) + 1;
  if (chosen > kMaxChosen)
    return std::to_string(chosen) + " variables were chosen, but at most " +
           std::to_string(kMaxChosen) + " variables, the dependent and " +
           std::to_string(kMaxChosen - 1) +
           " independents, can be chosen; name them with --dep and --indep";

  std::vector<std::string> all = request.indep;
  all.push_back(request.dep);
  for (const std::string& wanted : all) {
    int matches = 0;
    for (int v = 1; v <= t.numCol && v <= static_cast<int>(t.colName.size()); ++v)
      matches += name(v) == wanted;
    if (matches == 0) return "unknown variable " + inQuotes(wanted);
    if (matches > 1)
      return "the name " + inQuotes(wanted) + " belongs to " + std::to_string(matches) +
             " variables of the file, which cannot be told apart";
  }
  if (std::find(request.indep.begin(), request.indep.end(), request.dep) != request.indep.end())
    return "the dependent variable " + inQuotes(request.dep) +
           " was also named as an independent variable";
  if (!twin.empty() &&
      std::find(request.indep.begin(), request.indep.end(), twin) != request.indep.end())
    return "the dependent variable " + inQuotes(request.dep) +
           " was also named as an independent variable, as " + inQuotes(twin) +
           " on its other scale";
  std::vector<std::string> sorted = request.indep;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end())
    return inQuotes(*twice) + " was named twice as an independent variable";
  return {};
}

std::string variableName(const app::DataTable& t, int v) {
  if (v < 1 || v > t.numCol || v > static_cast<int>(t.colName.size())) return "?";
  return std::string(run::trimmedName(t.colName[static_cast<std::size_t>(v - 1)]));
}

// The selection the Run will analyse must be the one asked for, whatever the
// dialog did with it (a full include list, a radio button on the wrong row).
bool selectionIsRequest(const app::AppState& state, const Request& request) {
  const app::VarSelection& sel = state.selection;
  if (sel.p != static_cast<int>(request.indep.size()) || sel.p < 1 ||
      static_cast<int>(sel.indep.size()) < sel.p)
    return false;
  if (variableName(state.data, sel.dep) != request.dep) return false;
  std::vector<std::string> got;
  for (int j = 0; j < sel.p; ++j) got.push_back(variableName(state.data, sel.indep[j]));
  std::vector<std::string> want = request.indep;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  return got == want;
}

std::string describe(const app::AppState& state) {
  const app::VarSelection& sel = state.selection;
  std::string text = "dependent " + inQuotes(variableName(state.data, sel.dep)) + ", independents";
  for (int j = 0; j < sel.p && j < static_cast<int>(sel.indep.size()); ++j)
    text += " " + inQuotes(variableName(state.data, sel.indep[j]));
  return text;
}

// The engine position (0-based entry of l) of a chosen variable, or -1.
int enginePosition(const app::AppState& state, const std::string& name) {
  const app::VarSelection& sel = state.selection;
  if (variableName(state.data, sel.dep) == name) return sel.p;
  for (int j = 0; j < sel.p && j < static_cast<int>(sel.indep.size()); ++j)
    if (variableName(state.data, sel.indep[j]) == name) return j;
  return -1;
}

// The shortest text that reads back as the same double.
std::string shortestText(double x) {
  std::array<char, 32> buf;
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), x);
  return ec == std::errc() ? std::string(buf.data(), end) : std::string();
}

// The folder the results go to, made when missing; empty when it cannot be used.
fs::path outputFolder(const Options& o) {
  std::error_code ec;
  const std::string outArg = o.outDir.value_or(".");
  fs::create_directories(outArg, ec);
  if (!fs::is_directory(outArg, ec)) return {};
  return fs::absolute(outArg, ec);
}

// The lines of the main output window go to standard output.
void screenToOut(platform::headless::HeadlessRuntime& runtime, const Reporter& report) {
  runtime.setScreenSink([&report](std::string_view line) {
    std::string text(line);
    text += '\n';
    report.out(text);
  });
}

// --model FILE --predict DATAFILE: applies a saved model to new rows.
int predictWithModel(const Options& o, const BatchIo& io, app::AppState& state,
                     const Reporter& report, bool& written) {
  std::error_code ec;
  const fs::path outDir = outputFolder(o);
  if (outDir.empty())
    return report.failed("cannot use output folder " + inQuotes(o.outDir.value_or(".")));
  if (auto why = unusableOutput(outDir, app::kPredictionSheetName)) return report.failed(*why);
  const std::string modelPath = fs::absolute(*o.model, ec).string();
  // Standard input and pipes are copied first, as for fitting.
  DataInput input;
  std::string problem;
  const std::string dataPath = input.prepare(*o.predict, io.inputFd, problem);
  if (!problem.empty()) return report.failed(problem);
  const std::string sheet = (outDir / app::kPredictionSheetName).string();
  std::vector<FileRole> inputs = {{"the model file", modelPath}};
  if (!input.copied()) inputs.push_back({"the data file to predict", dataPath});
  if (auto why = clashingFiles(inputs, {{std::string(app::kPredictionSheetName), sheet}}))
    return report.failed(*why + "; nothing was predicted");
  platform::headless::HeadlessRuntime runtime(outDir.string(), io.canvas);
  screenToOut(runtime, report);
  const bool opened = app::openModel(runtime, state, modelPath);
  if (opened && o.extrapolate) state.model->extrapolate = *o.extrapolate;
  if (!opened || !app::predictDataFile(runtime, state, *state.model, dataPath)) {
    if (state.problems.empty()) return report.failed("nothing was predicted");
    return report.failed(state.problems);
  }
  written = true;
  if (!state.problems.empty()) return report.failed(state.problems);
  return kExitDone;
}

// ---- The steps of one fitting command line, in the order runBatch takes them.
// Each returns the exit status when the program stops there.

using Stop = std::optional<int>;

// What one command line asked for and where its results go.
struct BatchRun {
  const Options& o;
  const BatchIo& io;
  app::AppState& state;
  const Reporter& report;
  DataInput input{};
  std::string dataPath{};  // the file the scan and the Run read
  fs::path outDir{};
  Request request{};
  bool modelWritten = false;
};

// A scanned table without names or rows ends the command.
Stop noDataStop(const BatchRun& b, const app::DataTable& data) {
  if (data.numCol1 < 1) {
    if (app::isWorkbookFileName(b.dataPath))
      return b.report.failed("the worksheet read from " + b.input.display() + " holds no rows");
    std::error_code sizeError;
    if (fs::file_size(b.dataPath, sizeError) == 0 && !sizeError)
      return b.report.failed("the data file " + b.input.display() + " is empty");
    return b.report.failed("no column names in the first line of " + b.input.display());
  }
  if (data.nRows == 0) return b.report.failed("no data rows in " + b.input.display());
  return std::nullopt;
}

// The data file, and where the results go, before anything is written: every
// output a regular file or a new name, and none of them an input or another
// output.
Stop prepareFiles(BatchRun& b) {
  std::string problem;
  b.dataPath = b.input.prepare(b.o.dataFile, b.io.inputFd, problem);
  if (!problem.empty()) return b.report.failed(problem);
  if (b.o.saveModel)
    if (auto why = unusableModelTarget(*b.o.saveModel)) return b.report.failed(*why);
  if (b.o.exportTo)
    for (const std::string& f : app::exportFiles(*b.o.exportTo))
      if (auto why = unusableModelTarget(f, "--export")) return b.report.failed(*why);
  b.outDir = outputFolder(b.o);
  if (b.outDir.empty())
    return b.report.failed("cannot use output folder " + inQuotes(b.o.outDir.value_or(".")));
  std::vector<FileRole> outputs = {
      {"the run log", (b.outDir / app::kLogFileName).string()},
      {"the spreadsheet", (b.outDir / run::kTransformSheetName).string()}};
  if (b.o.equilibration)
    outputs.push_back({"the spreadsheet", (b.outDir / run::kCorrectionSheetName).string()});
  for (const FileRole& out : outputs)
    if (auto why = unusableOutput(b.outDir, fs::path(out.path).filename().string()))
      return b.report.failed(*why);
  std::error_code ec;
  if (b.o.saveModel)
    outputs.push_back({"the model file (--save-model)", fs::absolute(*b.o.saveModel, ec).string()});
  if (b.o.exportTo)
    for (const std::string& f : app::exportFiles(*b.o.exportTo))
      outputs.push_back({"the results export (--export)", fs::absolute(f, ec).string()});
  // The start deletes the pictures of an earlier run whether or not this one
  // takes any; with --captures they are outputs like the others.
  for (int c = app::kFirstCaptureCode; c <= app::kLastCaptureCode; ++c) {
    const std::string name = app::capturePictureName(c);
    if (b.o.captures)
      if (auto why = unusableOutput(b.outDir, name)) return b.report.failed(*why);
    outputs.push_back(
        {b.o.captures ? "the picture" : "a picture the start deletes", (b.outDir / name).string()});
  }
  std::vector<FileRole> inputs;
  if (!b.input.copied()) inputs.push_back({"the data file", b.dataPath});
  if (auto why = clashingFiles(inputs, outputs)) return b.report.failed(*why + "; nothing was run");
  return std::nullopt;
}

// The command line against the data file, before anything is deleted or
// written: the names asked for, the flags and the folds. The file is scanned
// as Input Dat File scans it, on a runtime of its own whose lines go nowhere
// (the real scan says them again).
Stop checkAgainstData(BatchRun& b) {
  platform::headless::HeadlessRuntime scratch(b.outDir.string());
  app::AppState probe;
  probe.readAsCsv = b.state.readAsCsv;
  probe.readAsTsv = b.state.readAsTsv;
  probe.sheetAsked = b.state.sheetAsked;
  app::readDataFile(scratch, probe, b.dataPath);
  if (!probe.problems.empty()) return b.report.failed(probe.problems);
  if (Stop stop = noDataStop(b, probe.data)) return stop;
  Request request;
  const std::string problem = resolveRequest(probe.data, b.o, b.input.display(), request);
  if (!problem.empty()) return b.report.failed(problem);
  for (const auto& [name, code] : b.o.flags)
    if (name != request.dep &&
        std::find(request.indep.begin(), request.indep.end(), name) == request.indep.end())
      return b.report.failed("--flag names " + inQuotes(name) + ", which is not a chosen variable");
  if (b.o.cvFolds) {
    const std::string why = model::crossValidationRefusal(
        probe.data.nRows, static_cast<int>(request.indep.size()), *b.o.cvFolds);
    if (!why.empty())
      return b.report.failed("--cv " + std::to_string(*b.o.cvFolds) + ": " + why +
                             "; nothing was run");
  }
  return std::nullopt;
}

// The program as the GUI starts it: menus, the Run command, the log.
Stop startProgram(BatchRun& b, platform::headless::HeadlessRuntime& runtime, app::Shell& shell) {
  if (!shell.buildMenus()) return b.report.failed("the menus could not be built");
  const RunCommand run = b.io.run ? b.io.run : RunCommand(run::onRun);
  shell.setRunCommand([run, &runtime, &state = b.state, &shell] { run(runtime, state, shell); });
  shell.startUp();
  if (!runtime.isOpen(app::kLogUnit))
    return b.report.failed(std::string(app::kLogFileName) + " cannot be written in " +
                           inQuotes(b.outDir.string()));
  return std::nullopt;
}

// Input Dat File, with the Prepare dialog that follows a scan with rows:
// the variables asked for go into the include list and the dependent's
// radio button is clicked.
Stop inputAndPrepare(BatchRun& b, platform::headless::HeadlessRuntime& runtime) {
  app::AppState& state = b.state;
  std::string selectionProblem;
  runtime.queueFileChoice(b.dataPath);
  runtime.queueDialogScript(
      app::kPrepareResource, {DialogAction::run([&](ScriptedDialog& d) {
        selectionProblem = resolveRequest(state.data, b.o, b.input.display(), b.request);
        if (!selectionProblem.empty()) return;
        std::vector<std::string> chosen = b.request.indep;
        chosen.push_back(b.request.dep);
        d.play(DialogAction::select(app::kPrepareVariableList, chosen));
        d.play(DialogAction::press(app::kPrepareMoveIn));
        const std::vector<std::string> rows = d.items(app::kPrepareIncludeList);
        for (std::size_t r = 0; r < rows.size(); ++r)
          if (run::trimmedName(rows[r]) == b.request.dep)
            d.play(DialogAction::clickRadio(app::kFirstDepRadio + static_cast<int>(r)));
      })});
  // A workbook of several sheets without --sheet: the first, as OK takes it.
  runtime.queueDialogScript(app::kSheetResource, {DialogAction::press(app::kOkButton)});
  runtime.invokeMenu("&Input Dat File...");
  for (const std::string& w : state.warnings) b.report.warn(w);
  if (!state.problems.empty()) return b.report.failed(state.problems);
  if (!selectionProblem.empty()) return b.report.failed(selectionProblem);
  if (Stop stop = noDataStop(b, state.data)) return stop;
  if (!selectionIsRequest(state, b.request))
    return b.report.failed("the Prepare step chose " + describe(state) +
                           ", not the variables asked for; nothing was run");
  return std::nullopt;
}

bool optionsAskedFor(const Options& o) {
  return !o.flags.empty() || o.numTerm || o.delRsq || o.equilibration || o.captures || o.cvFolds ||
         o.bass || o.span || o.tune;
}

// What the OPTIONS dialog stored must be what was asked for.
Stop checkStoredOptions(const BatchRun& b) {
  const Options& o = b.o;
  const app::RunOptions& stored = b.state.options;
  for (const auto& [name, code] : o.flags) {
    const int e = enginePosition(b.state, name);
    int last = code;
    for (const auto& [n2, c2] : o.flags)
      if (n2 == name) last = c2;
    if (stored.l[static_cast<std::size_t>(e)] != last)
      return b.report.failed("the flag of " + inQuotes(name) +
                             " could not be set; nothing was run");
  }
  if (o.numTerm && stored.NumTerm != *o.numTerm)
    return b.report.failed("NumTerm could not be set to " + std::to_string(*o.numTerm) +
                           "; nothing was run");
  if (o.delRsq && stored.DelRsq != *o.delRsq)
    return b.report.failed("DelRsq could not be set to " + shortestText(*o.delRsq) +
                           " (the OPTIONS box keeps " + std::to_string(app::kDelRsqTextLength) +
                           " characters); nothing was run");
  if (stored.Equilibration != o.equilibration || stored.ScreenCaptures != o.captures)
    return b.report.failed("the OPTIONS switches could not be set; nothing was run");
  if ((o.bass && stored.Bass != *o.bass) || (o.span && stored.Span != *o.span) ||
      stored.Tune != o.tune)
    return b.report.failed("the smoothness could not be set; nothing was run");
  if (o.cvFolds && stored.CvFolds != *o.cvFolds)
    return b.report.failed("CV folds could not be set to " + std::to_string(*o.cvFolds) +
                           "; nothing was run");
  return std::nullopt;
}

// The OPTIONS dialog, only when an option was given.
Stop setOptions(BatchRun& b, platform::headless::HeadlessRuntime& runtime) {
  const Options& o = b.o;
  if (!optionsAskedFor(o)) return std::nullopt;
  DialogScript script;
  for (const auto& [name, code] : o.flags) {
    if (enginePosition(b.state, name) < 0)
      return b.report.failed("--flag names " + inQuotes(name) + ", which is not a chosen variable");
    script.push_back(DialogAction::select(app::kOptionsVariableList, {name}));
    script.push_back(DialogAction::clickRadio(app::flagRadio(code)));
  }
  script.push_back(DialogAction::check(app::kEquilibrationBox, o.equilibration));
  script.push_back(DialogAction::check(app::kScreenCapturesBox, o.captures));
  if (o.numTerm) script.push_back(DialogAction::type(app::kNumTermBox, std::to_string(*o.numTerm)));
  if (o.delRsq) script.push_back(DialogAction::type(app::kDelRsqBox, shortestText(*o.delRsq)));
  if (o.cvFolds) script.push_back(DialogAction::type(app::kCvFoldsBox, std::to_string(*o.cvFolds)));
  if (o.bass) script.push_back(DialogAction::type(app::kBassBox, shortestText(*o.bass)));
  if (o.span) script.push_back(DialogAction::type(app::kSpanBox, shortestText(*o.span)));
  script.push_back(DialogAction::check(app::kTuneBox, o.tune));
  script.push_back(DialogAction::press(app::kOkButton));
  runtime.queueDialogScript(app::kOptionsResource, std::move(script));
  runtime.invokeMenu("&Options");
  if (!b.state.problems.empty()) return b.report.failed(b.state.problems);
  return checkStoredOptions(b);
}

// Whether the Run will equilibrate: asked for, and every chosen variable
// monotone; asked for in vain is warned about, and the run goes on.
bool willEquilibrate(const BatchRun& b) {
  const bool allMonotone = run::allCodesMonotone(b.state.options.l.data(), b.state.selection.p);
  if (b.o.equilibration && !allMonotone)
    b.report.warn(
        "--equilibration was not done: it needs every chosen variable monotone (flag 3); the "
        "run goes on without it");
  return b.o.equilibration && allMonotone;
}

// The Run, and the files it was to write. Every failure should have been
// reported by the Run itself; a file it was to write and did not is a
// failure all the same.
Stop runAnalysis(BatchRun& b, platform::headless::HeadlessRuntime& runtime) {
  const bool equilibrates = willEquilibrate(b);
  const fs::path transformSheet = b.outDir / run::kTransformSheetName;
  const fs::path correctionSheet = b.outDir / run::kCorrectionSheetName;
  const FileStamp transformBefore = FileStamp::of(transformSheet);
  const FileStamp correctionBefore = FileStamp::of(correctionSheet);
  const std::size_t warned = b.state.warnings.size();
  runtime.invokeMenu("&Run");
  for (std::size_t k = warned; k < b.state.warnings.size(); ++k) b.report.warn(b.state.warnings[k]);

  if (!b.state.problems.empty()) return b.report.failed(b.state.problems);
  std::vector<std::string> missing;
  if (FileStamp::of(transformSheet).sameAs(transformBefore))
    missing.push_back(std::string(run::kTransformSheetName) + " was not written");
  if (equilibrates && FileStamp::of(correctionSheet).sameAs(correctionBefore))
    missing.push_back(std::string(run::kCorrectionSheetName) + " was not written");
  const std::string firstPicture = app::capturePictureName(app::kFirstCaptureCode + 1);
  std::error_code ec;
  if (b.o.captures && !fs::exists(b.outDir / firstPicture, ec))
    missing.push_back("no picture was saved (" + firstPicture + " is missing)");
  if (!missing.empty()) return b.report.failed(missing);
  return std::nullopt;
}

// --save-model FILE.
Stop saveModelIfAsked(BatchRun& b, platform::headless::HeadlessRuntime& runtime) {
  if (!b.o.saveModel) return std::nullopt;
  if (!b.state.model) return b.report.failed("the analysis did not finish: no model to save");
  std::error_code ec;
  if (!app::saveModel(runtime, b.state, fs::absolute(*b.o.saveModel, ec).string())) {
    if (b.state.problems.empty()) return b.report.failed("the model could not be saved");
    return b.report.failed(b.state.problems);
  }
  b.modelWritten = true;
  return std::nullopt;
}

// --export FILE.
Stop exportIfAsked(BatchRun& b, platform::headless::HeadlessRuntime& runtime) {
  if (!b.o.exportTo) return std::nullopt;
  std::error_code ec;
  if (!app::exportResults(runtime, b.state, fs::absolute(*b.o.exportTo, ec).string())) {
    if (b.state.problems.empty()) return b.report.failed(*b.o.exportTo + " was not written");
    return b.report.failed(b.state.problems);
  }
  return std::nullopt;
}

// One fitting command line, step by step.
int fit(BatchRun& b) {
  if (Stop stop = prepareFiles(b)) return *stop;
  if (Stop stop = checkAgainstData(b)) return *stop;
  // Without --captures nobody sees the plots: they are drawn on blank
  // canvases, which spares painting every observation and starting Qt.
  platform::headless::HeadlessRuntime runtime(
      b.outDir.string(), b.o.captures ? b.io.canvas : platform::headless::CanvasFactory{});
  screenToOut(runtime, b.report);
  app::Shell shell(runtime, b.state);
  if (Stop stop = startProgram(b, runtime, shell)) return *stop;
  if (Stop stop = inputAndPrepare(b, runtime)) return *stop;
  if (Stop stop = setOptions(b, runtime)) return *stop;
  // No dialog control holds the rule: it goes straight into the options,
  // after the scan has reset them.
  if (b.o.extrapolate) b.state.options.extrapolate = *b.o.extrapolate;
  if (Stop stop = runAnalysis(b, runtime)) return *stop;
  if (Stop stop = saveModelIfAsked(b, runtime)) return *stop;
  if (Stop stop = exportIfAsked(b, runtime)) return *stop;
  return kExitDone;
}

// An allocation that failed, said in the terms of what was being done.
std::string notEnoughMemory(const app::AppState& state, const Options& o) {
  const app::DataTable& t = state.data;
  if (t.nRows > 0) {
    const int variables = state.selection.p > 0 ? state.selection.p + 1 : t.numCol;
    return "not enough memory for " + std::to_string(t.nRows) + " rows x " +
           std::to_string(variables) + " variables";
  }
  const std::string& file = o.model ? *o.predict : o.dataFile;
  return "not enough memory to read " + (file == "-" ? "standard input" : inQuotes(file));
}

}  // namespace

int runBatch(const std::vector<std::string>& args, const BatchIo& io, app::AppState& state) {
  const Reporter report(io);
  Options o;
  if (auto status = parse(args, o, report)) return *status;
  state.readAsCsv = o.csv;
  state.readAsTsv = o.tsv;
  state.sheetAsked = o.sheet.value_or(std::string());
  state.timings.enabled = o.timings;
  state.keepModel = o.saveModel.has_value();
  state.keepResults = o.exportTo.has_value();
  int status = kExitFailed;
  bool written = false;
  // Failed allocations end the command here: the files being written are
  // dropped on the way (only a completed close puts one in place) and the
  // private copy of the input goes with its folder.
  try {
    if (o.model) {
      status = predictWithModel(o, io, state, report, written);
    } else {
      BatchRun b{.o = o, .io = io, .state = state, .report = report};
      status = fit(b);
      written = b.modelWritten;
    }
  } catch (const std::bad_alloc&) {
    status = report.failed(notEnoughMemory(state, o));
  }
  if (status == kExitFailed && !written) {
    const std::string asked =
        o.model ? std::string(app::kPredictionSheetName) : o.saveModel.value_or(std::string());
    if (!asked.empty() && !report.mentioned(asked)) report.failed(asked + " was not written");
  }
  if (o.timings && io.err) io.err(state.timings.report());
  return status;
}

}  // namespace tavel::batch
