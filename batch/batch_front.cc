// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_front.h"

#include <fcntl.h>
#include <getopt.h>
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
#include <utility>

#include "app/data_file.h"
#include "app/model_commands.h"
#include "app/options_dialog.h"
#include "app/results_export.h"
#include "app/session.h"
#include "batch/batch_options.h"
#include "batch/private_folder.h"
#include "batch/progress.h"
#include "io/field_format.h"
#include "io/free_form_reader.h"
#include "io/workbook.h"
#include "model/cross_validation.h"
#include "platform/file_units.h"
#include "run/report.h"
#include "run/run_command.h"
#include "tavel_version.h"

namespace tavel::batch {
namespace {

namespace fs = std::filesystem;

struct Options {
  std::string dataFile;
  std::optional<std::string> dep;
  std::vector<std::string> indep;
  std::vector<std::pair<std::string, model::VarFlag>> flags;
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
  bool quiet = false;
};

class Reporter {
 public:
  Reporter(const BatchIo& io, Progress& progress) : io_(io), progress_(&progress) {}
  void out(std::string_view text) const {
    progress_->clear();
    if (io_.out) io_.out(text);
  }
  Progress& progress() const { return *progress_; }
  // One line: what is wrong, and where the options are told.
  int usage(const std::string& message) const {
    err("tavel-batch: " + message + "; see tavel-batch --help\n");
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
    progress_->clear();
    if (io_.err) io_.err(text);
  }
  const BatchIo& io_;
  Progress* progress_;
  mutable std::vector<std::string> said_;
};

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

// What is wrong with an option getopt_long did not take: unknown, a prefix
// of several, or a value given to a switch.
std::string refusedOption(const std::string& arg) {
  if (arg.rfind("--", 0) != 0) return "unknown option " + inQuotes(arg);
  const std::size_t eq = arg.find('=');
  const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
  std::vector<std::string> matches;
  for (const OptionSpec& option : batchOptions()) {
    if (option.name == name && eq != std::string::npos && option.argument.empty())
      return "--" + name + " takes no value";
    if (option.name.substr(0, name.size()) == name)
      matches.push_back("--" + std::string(option.name));
  }
  if (matches.size() < 2 || name.empty()) return "unknown option " + inQuotes(arg.substr(0, eq));
  std::string list;
  for (const std::string& m : matches) list += (list.empty() ? "" : ", ") + m;
  return "option " + inQuotes("--" + name) + " is ambiguous (" + list + ")";
}

// Takes one option of the command line (a: "--name"; v: its value when
// hasValue); an exit status when the program should stop.
std::optional<int> takeOption(const std::string& a, bool hasValue, const std::string& v, Options& o,
                              const Reporter& r) {
  auto value = [&]() -> bool { return hasValue; };
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
  if (a == "--help") {
    r.out(batchHelpText());
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
    const auto code = model::parseFlag(v.substr(eq + 1));
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
    if (!x || *x < 0.0 || *x > most) return r.usage(a + " needs " + what + ", not " + inQuotes(v));
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
  } else if (a == "--quiet") {
    o.quiet = true;
  } else {
    return r.usage("unknown option " + inQuotes(a));
  }
  return std::nullopt;
}

// The options that go against each other or need another; an exit status
// when the program should stop.
std::optional<int> checkCombination(const Options& o, bool haveFile, const Reporter& r) {
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

// Reads the command line; an exit status when the program should stop.
std::optional<int> parse(const std::vector<std::string>& args, Options& o, const Reporter& r) {
  const std::vector<OptionSpec>& specs = batchOptions();
  std::vector<struct option> longOptions;
  std::string shortOptions = "-:";  // operands in order; ':' for a missing value
  for (std::size_t k = 0; k < specs.size(); ++k) {
    longOptions.push_back({specs[k].name.data(),
                           specs[k].argument.empty() ? no_argument : required_argument, nullptr,
                           static_cast<int>(k) + 256});
    if (specs[k].shortName != 0) shortOptions += specs[k].shortName;
  }
  longOptions.push_back({nullptr, 0, nullptr, 0});
  std::vector<std::string> storage = args;
  storage.insert(storage.begin(), "tavel-batch");
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  bool haveFile = false;
  auto operand = [&](const std::string& a) -> std::optional<int> {
    if (haveFile) return r.usage("more than one data file given");
    o.dataFile = a;
    haveFile = true;
    return std::nullopt;
  };
  optind = 0;  // a fresh scan of a new argument vector
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(), nullptr);
    if (c == -1) break;
    if (c == 1) {
      if (auto status = operand(optarg)) return status;
      continue;
    }
    if (c == '?') {
      if (optopt > 0 && optopt < 256)
        return r.usage("unknown option " + inQuotes(std::string("-") + static_cast<char>(optopt)));
      return r.usage(refusedOption(storage[static_cast<std::size_t>(optind - 1)]));
    }
    const bool missing = c == ':';
    const int id = missing ? optopt : c;
    std::string name;
    if (id == 'h') {
      name = "help";
    } else if (id >= 256 && id - 256 < static_cast<int>(specs.size())) {
      name = specs[static_cast<std::size_t>(id - 256)].name;
    } else {
      return r.usage("unknown option " + inQuotes(storage[static_cast<std::size_t>(optind - 1)]));
    }
    const std::string a = "--" + name;
    const bool hasValue = !missing && optarg != nullptr;
    if (auto status = takeOption(a, hasValue, hasValue ? std::string(optarg) : std::string(), o, r))
      return status;
  }
  for (int k = optind; k < argc; ++k)
    if (auto status = operand(storage[static_cast<std::size_t>(k)])) return status;
  return checkCombination(o, haveFile, r);
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

  return app::selectionRefusal(t, request.dep, request.indep);
}

// The folder the results go to, made when missing; empty when it cannot be used.
fs::path outputFolder(const Options& o) {
  std::error_code ec;
  const std::string outArg = o.outDir.value_or(".");
  fs::create_directories(outArg, ec);
  if (!fs::is_directory(outArg, ec)) return {};
  return fs::absolute(outArg, ec);
}

// The lines of the main output window go to standard output (none with
// --quiet); the progress line reads them.
void screenToOut(platform::headless::HeadlessRuntime& runtime, const Reporter& report, bool quiet) {
  runtime.setScreenSink([&report, quiet](std::string_view line) {
    if (!quiet) {
      std::string text(line);
      text += '\n';
      report.out(text);
    }
    report.progress().screenLine(line);
    report.progress().redraw();
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
  screenToOut(runtime, report, o.quiet);
  report.progress().stage("predicting " + input.display());
  app::Session session(runtime, state);
  const app::Outcome opened = session.openModel(modelPath);
  if (opened.ok && o.extrapolate) state.model->extrapolate = *o.extrapolate;
  const app::Outcome predicted = opened.ok ? session.predict(dataPath) : opened;
  if (!predicted.ok) {
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
  // The scan made before anything was written, taken over by the analysis.
  std::optional<app::EarlierScan> scanned{};
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
// as Input Dat File scans it, on a runtime of its own that keeps the lines;
// the analysis takes that scan over and says them (loadAndChoose), so a
// large file is not scanned twice.
Stop checkAgainstData(BatchRun& b) {
  platform::headless::HeadlessRuntime scratch(b.outDir.string());
  app::AppState probe;
  probe.readAsCsv = b.state.readAsCsv;
  probe.readAsTsv = b.state.readAsTsv;
  probe.sheetAsked = b.state.sheetAsked;
  probe.timings.enabled = b.state.timings.enabled;
  const bool scanned = app::readDataFile(scratch, probe, b.dataPath);
  b.state.timings = probe.timings;
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
  if (scanned)
    b.scanned = app::EarlierScan{.table = std::move(probe.data),
                                 .lines = scratch.screenHistory(),
                                 .warnings = std::move(probe.warnings)};
  return std::nullopt;
}

// The program as the GUI starts it: the Run command, old pictures deleted,
// the log opened.
Stop startProgram(BatchRun& b, platform::headless::HeadlessRuntime& runtime, app::Shell& shell,
                  app::Session& session) {
  const RunCommand run = b.io.run ? b.io.run : RunCommand(run::onRun);
  shell.setRunCommand([run, &runtime, &state = b.state, &shell] { run(runtime, state, shell); });
  session.setRunCommand([&shell] { shell.onRun(false); });
  session.setCommandEnd([&shell] { shell.finishCommand(); });
  shell.startUp();
  if (!runtime.isOpen(app::kLogUnit))
    return b.report.failed(std::string(app::kLogFileName) + " cannot be written in " +
                           inQuotes(b.outDir.string()));
  return std::nullopt;
}

// The scan of the data file and the variables asked for.
Stop loadAndChoose(BatchRun& b, app::Session& session) {
  const app::ReadingRequest reading{
      .csv = b.o.csv, .tsv = b.o.tsv, .sheet = b.o.sheet.value_or(std::string())};
  app::ScanOutcome scan;
  if (b.scanned) {
    scan = session.load(std::move(*b.scanned), reading);
    b.scanned.reset();
  } else {
    scan = session.load(b.dataPath, reading);
  }
  for (const std::string& w : scan.warnings) b.report.warn(w);
  if (!scan.lines.empty()) return b.report.failed(scan.lines);
  if (Stop stop = noDataStop(b, b.state.data)) return stop;
  const std::string problem = resolveRequest(b.state.data, b.o, b.input.display(), b.request);
  if (!problem.empty()) return b.report.failed(problem);
  const app::Outcome chosen = session.choose(b.request.dep, b.request.indep);
  if (!chosen.ok) return b.report.failed(chosen.lines);
  return std::nullopt;
}

bool optionsAskedFor(const Options& o) {
  return !o.flags.empty() || o.numTerm || o.delRsq || o.equilibration || o.captures || o.cvFolds ||
         o.bass || o.span || o.tune;
}

// The flags and the settings, only when one was given: set as the OPTIONS
// dialog sets them when it is closed, so a DelRsq not given takes the value
// that dialog shows (the scan's default in the digits of its box).
Stop setOptions(BatchRun& b, app::Session& session) {
  const Options& o = b.o;
  if (!optionsAskedFor(o)) return std::nullopt;
  for (const auto& [name, flag] : o.flags)
    if (!session.setFlag(name, flag).ok)
      return b.report.failed("--flag names " + inQuotes(name) + ", which is not a chosen variable");
  app::AnalysisOptions asked{.numTerm = o.numTerm,
                             .delRsq = o.delRsq,
                             .equilibration = o.equilibration,
                             .screenCaptures = o.captures,
                             .cvFolds = o.cvFolds,
                             .bass = o.bass,
                             .span = o.span,
                             .tune = o.tune,
                             .extrapolate = std::nullopt};
  double shown = 0.0;
  if (!asked.delRsq && app::readFreeFormNumber(app::delRsqText(b.state.options.DelRsq), shown))
    asked.delRsq = shown;
  const app::Outcome set = session.setOptions(asked);
  if (!set.ok) return b.report.failed(set.lines);
  return std::nullopt;
}

// Whether the Run will equilibrate: asked for, and every chosen variable
// monotone; asked for in vain is warned about, and the run goes on.
bool willEquilibrate(const BatchRun& b) {
  const std::vector<int> codes = app::engineCodes(b.state.options.l);
  const bool allMonotone = run::allCodesMonotone(codes.data(), b.state.selection.p);
  if (b.o.equilibration && !allMonotone)
    b.report.warn(
        "--equilibration was not done: it needs every chosen variable monotone (flag 3); the "
        "run goes on without it");
  return b.o.equilibration && allMonotone;
}

// The Run, and the files it was to write. Every failure should have been
// reported by the Run itself; a file it was to write and did not is a
// failure all the same.
Stop runAnalysis(BatchRun& b, app::Session& session) {
  const bool equilibrates = willEquilibrate(b);
  const fs::path transformSheet = b.outDir / run::kTransformSheetName;
  const fs::path correctionSheet = b.outDir / run::kCorrectionSheetName;
  const FileStamp transformBefore = FileStamp::of(transformSheet);
  const FileStamp correctionBefore = FileStamp::of(correctionSheet);
  const std::size_t warned = b.state.warnings.size();
  const app::Outcome ran = session.run();
  for (std::size_t k = warned; k < b.state.warnings.size(); ++k) b.report.warn(b.state.warnings[k]);

  if (!b.state.problems.empty()) return b.report.failed(b.state.problems);
  if (!ran.ok) return b.report.failed(ran.lines);
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
Stop saveModelIfAsked(BatchRun& b, app::Session& session) {
  if (!b.o.saveModel) return std::nullopt;
  if (!b.state.model) return b.report.failed("the analysis did not finish: no model to save");
  std::error_code ec;
  const app::Outcome saved = session.saveModel(fs::absolute(*b.o.saveModel, ec).string());
  if (!saved.ok) return b.report.failed(saved.lines);
  b.modelWritten = true;
  return std::nullopt;
}

// --export FILE.
Stop exportIfAsked(BatchRun& b, app::Session& session) {
  if (!b.o.exportTo) return std::nullopt;
  std::error_code ec;
  const app::Outcome exported = session.exportResults(fs::absolute(*b.o.exportTo, ec).string());
  if (!exported.ok) {
    if (exported.lines.empty()) return b.report.failed(*b.o.exportTo + " was not written");
    return b.report.failed(exported.lines);
  }
  return std::nullopt;
}

// One fitting command line, step by step.
int fit(BatchRun& b) {
  if (Stop stop = prepareFiles(b)) return *stop;
  b.report.progress().stage("checking " + b.input.display());
  if (Stop stop = checkAgainstData(b)) return *stop;
  // Without --captures nobody sees the plots: they are drawn on blank
  // canvases, which spares painting every observation and starting Qt.
  platform::headless::HeadlessRuntime runtime(
      b.outDir.string(), b.o.captures ? b.io.canvas : platform::headless::CanvasFactory{});
  screenToOut(runtime, b.report, b.o.quiet);
  // The Run draws its plots and saves its pictures through the shell.
  app::Shell shell(runtime, b.state);
  app::Session session(runtime, b.state);
  if (Stop stop = startProgram(b, runtime, shell, session)) return *stop;
  b.report.progress().stage("reading " + b.input.display());
  if (Stop stop = loadAndChoose(b, session)) return *stop;
  if (Stop stop = setOptions(b, session)) return *stop;
  if (b.o.extrapolate) session.setExtrapolation(*b.o.extrapolate);
  b.report.progress().stage("fitting");
  if (Stop stop = runAnalysis(b, session)) return *stop;
  if (b.o.saveModel) b.report.progress().stage("saving the model");
  if (Stop stop = saveModelIfAsked(b, session)) return *stop;
  if (b.o.exportTo) b.report.progress().stage("exporting the results");
  if (Stop stop = exportIfAsked(b, session)) return *stop;
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
  Progress progress(io.progress);
  const Reporter report(io, progress);
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
  progress.clear();
  if (o.timings && io.err) io.err(state.timings.report());
  return status;
}

}  // namespace tavel::batch
