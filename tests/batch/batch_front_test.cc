// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch's front end in process, over hostile files and arguments: the
// exit status, the reason on standard error and the files left behind. The
// analysis asked for is the one run, or nothing is run.
#include "batch/batch_front.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tavel::batch::BatchIo;
using tavel::batch::runBatch;

struct Outcome {
  int status = -1;
  std::string out, err;
  tavel::app::AppState state;
};

// Rows i = 1..n of `columns` columns named x01.. and a last column y; every
// value positive, so each column also has a log variable.
std::string table(int columns, int n) {
  std::string text;
  for (int c = 1; c < columns; ++c) text += (c < 10 ? "x0" : "x") + std::to_string(c) + " ";
  text += "y\n";
  for (int i = 1; i <= n; ++i) {
    int sum = 0;
    for (int c = 1; c < columns; ++c) {
      const int v = (i * (c + 2)) % 13 + c;
      sum += v;
      text += std::to_string(v) + " ";
    }
    text += std::to_string(sum + i % 3) + "\n";
  }
  return text;
}

class BatchFront : public ::testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    dir_ =
        fs::temp_directory_path() / ("tbf-" + std::to_string(::getpid())) / std::to_string(++count);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(dir_ / "out");
    // Private copies of standard input go here, so the test sees them go.
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    fs::remove_all(dir_.parent_path());
  }

  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  fs::path out(const std::string& name = "") const { return dir_ / "out" / name; }

  Outcome run(std::vector<std::string> args, BatchIo io = {}) {
    Outcome r;
    io.out = [&r](std::string_view t) { r.out += t; };
    io.err = [&r](std::string_view t) { r.err += t; };
    args.insert(args.begin(), {"--outdir", out().string()});
    r.status = runBatch(args, io, r.state);
    return r;
  }

  fs::path dir_;
};

// The reading end of a pipe that holds text and is closed for writing: what
// a shell gives for `... | tavel-batch -`. -1 when no pipe could be made.
int pipeHolding(const std::string& text) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const bool wrote = ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fds[1]);
  if (!wrote) {
    ::close(fds[0]);
    return -1;
  }
  return fds[0];
}

std::string depName(const Outcome& r) {
  const auto& t = r.state.data;
  const int v = r.state.selection.dep;
  if (v < 1 || v > static_cast<int>(t.colName.size())) return "?";
  const std::string& n = t.colName[static_cast<std::size_t>(v - 1)];
  return n.substr(0, n.find_last_not_of(' ') + 1);
}

TEST_F(BatchFront, HostileFilesAndArgumentsAreRefusedWithTheirReason) {
  const std::string good = file("good.dat", table(3, 12));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // alternatives separated by "|"
  };
  const std::vector<Case> cases = {
      {{file("blank_first_line.dat", "\n" + table(3, 12))}, 1, "no column names in the first line"},
      {{file("empty.dat", "")}, 1, "empty|no column names"},
      {{file("header_only.dat", "A B\n")}, 1, "no data rows"},
      // The default choice on 31 columns is every column: one too many.
      {{file("wide.dat", table(31, 40))}, 1, "at most 30 variables, the dependent and 29 indep"},
      {{"--dep", "y", "--indep", "y", good},
       1,
       "dependent variable 'y' was also named as an indep"},
      {{"--indep", "x01", "--indep", "x01", good}, 1, "'x01' was named twice"},
      {{file("same_names.dat", "A A y\n1 2 3\n2 3 4\n3 4 6\n4 5 7\n5 6 9\n")},
       1,
       "cannot be told apart"},
      // A column named like the log variable of another.
      {{"--dep", "_ln_A", file("ln_clash.dat", "A _ln_A y\n1 2 3\n2 3 4\n3 4 6\n4 5 7\n5 6 9\n")},
       1,
       "cannot be told apart"},
      // More predictors than rows: refused before the engine.
      {{file("p_gt_n.dat", table(7, 5))}, 1, "Too few observations for 6 independent"},
      {{"--dep", "NOPE", good}, 1, "unknown variable 'NOPE'"},
      {{"--indep", "x01", "--flag", "x02=2", good}, 1, "--flag names 'x02', which is not a chosen"},
      {{(dir_ / "out").string()}, 1, "is a folder, not a data file"},
      {{"/dev/zero"}, 1, "is a device, not a data file"},
      {{(dir_ / "missing.dat").string()}, 1, "cannot read data file"},
      {{"--numterm", "abc", good}, 2, "--numterm"},
      {{"--numterm", "2.5", good}, 2, "--numterm"},
      {{"--numterm", "0", good}, 2, "--numterm"},
      {{"--numterm", "", good}, 2, "--numterm"},
      {{"--numterm", "99999999999", good}, 2, "--numterm"},
      {{"--delrsq", "nan", good}, 2, "--delrsq"},
      {{"--delrsq", "inf", good}, 2, "--delrsq"},
      {{"--delrsq", "abc", good}, 2, "--delrsq"},
      {{"--delrsq", "1,5", good}, 2, "--delrsq"},
      {{"--delrsq", "", good}, 2, "--delrsq"},
      {{"--dep", "y", "--dep", "x01", good}, 2, "--dep given twice"},
      {{"--save-model", "a.json", "--save-model", "b.json", good}, 2, "--save-model given twice"},
      {{"--model", "a.json", "--model", "b.json", "--predict", good}, 2, "--model given twice"},
      {{"--model", "a.json", "--predict", good, "--predict", good}, 2, "--predict given twice"},
      {{"--extrapolate", "cubic", good}, 2, "--extrapolate needs hold or linear, not 'cubic'"},
      {{"--extrapolate", "hold", "--extrapolate", "linear", good}, 2, "--extrapolate given twice"},
      {{good, "--extrapolate"}, 2, "--extrapolate needs hold or linear"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args);
    const std::string where = c.args.back() + " " + (c.args.size() > 1 ? c.args[0] : "");
    EXPECT_EQ(r.status, c.status) << where << "\n" << r.err;
    bool said = false;
    for (std::size_t from = 0; from <= c.message.size();) {
      const std::size_t bar = std::min(c.message.find('|', from), c.message.size());
      said = said || r.err.find(c.message.substr(from, bar - from)) != std::string::npos;
      from = bar + 1;
    }
    EXPECT_TRUE(said) << where << "\n" << r.err;
    // A usage error is one line that points to --help.
    if (c.status == 2) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << where << "\n" << r.err;
      EXPECT_NE(r.err.find("; see tavel-batch --help\n"), std::string::npos) << where;
    }
    EXPECT_FALSE(fs::exists(out("Taveltr.xls"))) << where;
  }
}

TEST_F(BatchFront, ThirtyVariablesNamedExplicitlyAnalyseExactlyThose) {
  std::vector<std::string> args = {"--dep", "y", "--flag", "x29=linear"};
  for (int c = 1; c <= 29; ++c) {
    args.push_back("--indep");
    args.push_back((c < 10 ? "x0" : "x") + std::to_string(c));
  }
  args.push_back(file("wide.dat", table(31, 40)));
  const Outcome r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(depName(r), "y");
  EXPECT_EQ(r.state.selection.p, 29);
  // x30 is the column left out; x29 is an independent with the linear flag.
  for (int j = 0; j < 29; ++j) {
    const std::string& n = r.state.data.colName[r.state.selection.indep[j] - 1];
    EXPECT_NE(n.substr(0, 3), "x30");
    if (n.substr(0, 3) == "x29") {
      EXPECT_EQ(r.state.options.l[j], tavel::model::VarFlag::Linear);
    }
  }
  EXPECT_TRUE(fs::exists(out("Taveltr.xls")));
}

TEST_F(BatchFront, OptionsAreStoredAsGivenAndEquilibrationOnlyWhenItCanRun) {
  const std::string good = file("good.dat", table(3, 12));
  Outcome r = run({"--numterm", "4", "--delrsq", "+5e-3", "--equilibration", good});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.options.NumTerm, 4);
  EXPECT_EQ(r.state.options.DelRsq, 0.005);
  // Independents are Orderable by default: equilibration cannot run, and
  // that is said but is no failure.
  EXPECT_NE(r.err.find("--equilibration was not done"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out("Tavelcr.xls")));

  r = run({"--equilibration", "--flag", "x01=3", "--flag", "x02=monotone", good});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(out("Tavelcr.xls")));
  // Nothing asked for the model or the results: the run keeps neither.
  EXPECT_FALSE(r.state.model.has_value());
  EXPECT_FALSE(r.state.results.has_value());

  // The rule goes into the kept model; the model holds by default.
  r = run({"--save-model", out("m.json").string(), good});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(r.state.model.has_value());
  EXPECT_EQ(r.state.model->extrapolate, tavel::model::Extrapolation::Hold);
  r = run({"--extrapolate", "linear", "--save-model", out("m.json").string(), good});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.options.extrapolate, tavel::model::Extrapolation::Linear);
  ASSERT_TRUE(r.state.model.has_value());
  EXPECT_EQ(r.state.model->extrapolate, tavel::model::Extrapolation::Linear);
}

TEST_F(BatchFront, OutputsThatAreNotRegularFilesStopTheRunBeforeAnythingIsWritten) {
  const std::string good = file("good.dat", table(3, 12));
  fs::create_directory(out("Tavel.log"));
  Outcome r = run({good});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Tavel.log in"), std::string::npos) << r.err;
  fs::remove(out("Tavel.log"));

  ASSERT_EQ(::mkfifo(out("Taveltr.xls").c_str(), 0600), 0);
  r = run({good});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Taveltr.xls in"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out("Tavel.log")));
  fs::remove(out("Taveltr.xls"));

  fs::create_symlink("/dev/full", out("Tavel.log"));
  r = run({good});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Tavel.log in"), std::string::npos) << r.err;
}

// Every entry under a folder: its kind, and a regular file's bytes or a
// link's target. FIFOs and devices are never opened.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> seen;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string key = e.path().lexically_relative(dir).string();
    if (e.is_symlink()) {
      seen[key] = "link to " + fs::read_symlink(e.path()).string();
    } else if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      seen[key] = "file " + std::string(std::istreambuf_iterator<char>(in), {});
    } else {
      seen[key] = e.is_directory() ? "folder" : e.is_fifo() ? "fifo" : "other";
    }
  }
  return seen;
}

// Targets and inputs a careless or hostile command line may name. Every file
// the command line did not ask for is the same afterwards, byte for byte; a
// refusal names the path and what it is, or both roles of a clash.
TEST_F(BatchFront, HostileTargetsLeaveEveryFileNotAskedForUnchanged) {
  const std::string data = file("data.dat", table(3, 12));
  // What an earlier run left in the output folder.
  ASSERT_EQ(run({"--save-model", (dir_ / "old.json").string(), data}).status, 0);
  std::ofstream(out("pic_A.bmp")) << "earlier picture";
  file("victim", "not yours\n");
  const bool canMakeDevices =
      ::mknod((dir_ / "zero").c_str(), S_IFCHR | 0600, ::makedev(1, 5)) == 0;
  struct Case {
    std::string name;
    std::function<void()> setUp;
    std::vector<std::string> args;
    int status;
    std::string message;
    std::vector<std::string> mayChange;  // relative to the test folder
  };
  const std::string model = (dir_ / "m.json").string();
  const std::vector<Case> cases = {
      {"model onto a FIFO",
       [&] { ::mkfifo(model.c_str(), 0600); },
       {"--save-model", model, data},
       1,
       "'" + model + "' is a FIFO, not a regular file",
       {}},
      {"model onto a device",
       [&] { fs::rename(dir_ / "zero", model); },
       {"--save-model", model, data},
       1,
       "is a device, not a regular file",
       {}},
      {"model onto a folder",
       [&] { fs::create_directory(model); },
       {"--save-model", model, data},
       1,
       "is a folder, not a regular file",
       {}},
      {"model onto the data",
       {},
       {"--save-model", data, data},
       1,
       "would replace the data file '" + data + "'",
       {}},
      {"model onto the log",
       {},
       {"--save-model", out("Tavel.log").string(), data},
       1,
       "is also the run log",
       {}},
      {"link at the old temporary name",
       [&] { fs::create_symlink(dir_ / "victim", model + ".tmp"); },
       {"--save-model", model, data},
       0,
       "",
       {"m.json", "out/Tavel.log", "out/Taveltr.xls", "out/pic_A.bmp"}},
      {"link as the log",
       [&] {
         fs::remove(out("Tavel.log"));
         fs::create_symlink(dir_ / "victim", out("Tavel.log"));
       },
       {data},
       0,
       "",
       {"out/Tavel.log", "out/Taveltr.xls", "out/pic_A.bmp"}},
      {"the data is the log",
       [&] { fs::copy_file(data, out("Tavel.log"), fs::copy_options::overwrite_existing); },
       {out("Tavel.log").string()},
       1,
       "the run log '" + out("Tavel.log").string() + "' would replace the data file",
       {}},
      {"the log is a hard link to the data",
       [&] {
         fs::remove(out("Tavel.log"));
         fs::create_hard_link(data, out("Tavel.log"));
       },
       {data},
       1,
       "would replace the data file '" + data + "'",
       {}},
      {"the data under a picture's name",
       [&] { fs::copy_file(data, out("pic_B.bmp")); },
       {out("pic_B.bmp").string()},
       1,
       "a picture the start deletes",
       {}},
      {"an unknown dependent",
       {},
       {"--dep", "NOPE", "--save-model", model, data},
       1,
       "m.json was not written",
       {}},
      {"a flag on no chosen variable",
       {},
       {"--flag", "NOPE=5", data},
       1,
       "--flag names 'NOPE'",
       {}},
      {"more folds than rows",
       {},
       {"--cv", "500", "--save-model", model, data},
       1,
       "--cv 500: cross-validation needs from 2 to 12 folds",
       {}},
      {"predictions over the rows they predict",
       [&] { fs::copy_file(data, out("Tavelpr.xls")); },
       {"--model", (dir_ / "old.json").string(), "--predict", out("Tavelpr.xls").string()},
       1,
       "would replace the data file to predict",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.name == "model onto a device" && !canMakeDevices) continue;
    if (c.setUp) c.setUp();
    const auto before = snapshot(dir_);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (!c.message.empty()) {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    auto after = snapshot(dir_);
    // What was asked for may change or go (the start deletes the earlier
    // pictures); what is there is a file of its own, not a link.
    for (const std::string& changed : c.mayChange) {
      after.erase(changed);
      EXPECT_FALSE(fs::is_symlink(dir_ / changed)) << changed;
    }
    auto unchanged = before;
    for (const std::string& changed : c.mayChange) unchanged.erase(changed);
    EXPECT_EQ(after, unchanged);
    // Each case starts again from the earlier run's folder.
    for (const char* name : {"m.json", "m.json.tmp"}) fs::remove_all(dir_ / name);
    std::error_code ec;
    if (fs::is_symlink(out("Tavel.log")) || fs::hard_link_count(out("Tavel.log"), ec) > 1)
      fs::remove(out("Tavel.log"));
  }
  EXPECT_EQ(snapshot(dir_)["victim"], "file not yours\n");
}

TEST_F(BatchFront, StandardInputAndFifosAreReadThroughAPrivateCopyThatIsRemoved) {
  const std::string data = table(3, 12);
  BatchIo io;
  io.inputFd = pipeHolding(data);
  ASSERT_GE(io.inputFd, 0);
  Outcome r = run({"--dep", "y", "-"}, io);
  ::close(io.inputFd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.data.nRows, 12);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));

  const fs::path fifo = dir_ / "fifo.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo) << data; });
  r = run({fifo.string()});
  writer.join();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.data.nRows, 12);
  EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));

  io.inputFd = ::open("/dev/zero", O_RDONLY);
  r = run({"-"}, io);
  ::close(io.inputFd);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("standard input is a device"), std::string::npos) << r.err;
}

// A spreadsheet's export of a table analyses as the table does: the same
// Taveltr.xls from the .dat file and from CSV in both dialects, with quoted
// names, CRLF line ends and rows that are skipped.
TEST_F(BatchFront, CsvExportsRunAsTheDatFileDoes) {
  std::vector<std::array<std::string, 3>> rows;
  for (int i = 1; i <= 14; ++i) {
    const std::string x = std::to_string(i * 3 % 17) + "." + std::to_string(i % 4 * 25);
    const std::string z = std::to_string((i * 7) % 11 + 1) + ".5";
    const std::string y = std::to_string(i * i % 23 + i) + "." + std::to_string(i % 10);
    rows.push_back({x, z, y});
  }
  const auto lines = [&](const std::string& head, char sep, bool decimalComma,
                         const std::string& end) {
    std::string text = head + end;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::string line;
      for (const std::string& cell : rows[i]) {
        std::string c = cell;
        if (decimalComma) std::replace(c.begin(), c.end(), '.', ',');
        line += (line.empty() ? "" : std::string(1, sep)) + c;
      }
      text += line + end;
      // Rows the CSV rules skip, between the real ones.
      if (sep != ' ' && i == 3) text += std::string("1") + sep + "NA" + sep + "2" + end;
      if (sep != ' ' && i == 7) text += std::string("1") + sep + "x" + sep + "2" + end + end;
    }
    return text;
  };
  const std::string dat = file("t.dat", lines("T_K a,\"b\" y", ' ', false, "\n"));
  const std::string comma = file("t.csv", lines("\"T_K\",\"a,\"\"b\"\"\",y", ',', false, "\r\n"));
  const std::string semicolon = file("t2.CSV", lines("T_K;\"a,\"\"b\"\"\";y", ';', true, "\n"));
  const std::string named = file("t.txt", lines("T_K,\"a,\"\"b\"\"\",y", ',', false, "\n"));

  const std::string model = (dir_ / "m.json").string();
  Outcome r = run({"--dep", "y", "--save-model", model, dat});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.state.data.nRows, 14);
  std::string expected;
  {
    std::ifstream in(out("Taveltr.xls"), std::ios::binary);
    expected.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_NE(expected.find("a,\"b\""), std::string::npos);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{comma}, {semicolon}, {"--csv", named}}) {
    std::vector<std::string> all = {"--dep", "y"};
    all.insert(all.end(), args.begin(), args.end());
    fs::remove(out("Taveltr.xls"));
    r = run(all);
    ASSERT_EQ(r.status, 0) << args.back() << ": " << r.err;
    EXPECT_NE(r.out.find(" 1 incomplete row skipped"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 1 unreadable row skipped"), std::string::npos) << r.out;
    std::ifstream in(out("Taveltr.xls"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected) << args.back();
  }

  // New rows to predict come as CSV too.
  const auto predicted = [&](std::vector<std::string> args) {
    fs::remove(out("Tavelpr.xls"));
    args.insert(args.begin(), {"--model", model, "--predict"});
    const Outcome p = run(args);
    EXPECT_EQ(p.status, 0) << p.err;
    // The rows predicted, without the file's row numbers: the CSV forms
    // also list the rows they skipped, each with its status.
    std::ifstream in(out("Tavelpr.xls"), std::ios::binary);
    std::string kept;
    for (std::string line; std::getline(in, line);)
      if (line.find("\tmissing value\t") == std::string::npos &&
          line.find("\tunreadable\t") == std::string::npos)
        kept += line.substr(line.find('\t') + 1) + "\n";
    return kept;
  };
  const std::string fromDat = predicted({dat});
  EXPECT_NE(fromDat.find("\n"), std::string::npos);
  EXPECT_EQ(predicted({semicolon}), fromDat);
  EXPECT_EQ(predicted({named, "--csv"}), fromDat);
}

std::string withSeparator(std::string text, char separator) {
  std::replace(text.begin(), text.end(), ' ', separator);
  return text;
}

std::vector<std::string> sheetLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string sheetText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A table exported with tabs, with quotes or under a name that does not say
// CSV, analyses as the same table named .csv or written with blanks.
TEST_F(BatchFront, TabFilesAndCsvUnderOtherNamesRunAsTheirCsvFile) {
  const std::string plain = table(3, 12);
  ASSERT_EQ(run({file("t.dat", plain)}).status, 0);
  const std::string fromDat = sheetText(out("Taveltr.xls"));
  ASSERT_FALSE(fromDat.empty());

  // Tabs, and rows with an empty cell or a cell too few between the real ones.
  std::string tabs = withSeparator(plain, '\t');
  tabs.insert(tabs.find('\n', tabs.find('\n') + 1) + 1, "1\t\t2\n\t3\t4\n5\t6\n");
  const std::string gaps = file("t.tsv", tabs);
  const std::string tabTxt = file("tabs.txt", tabs);
  for (const std::vector<std::string>& args : {std::vector<std::string>{gaps}, {"--tsv", tabTxt}}) {
    fs::remove(out("Taveltr.xls"));
    const Outcome r = run(args);
    ASSERT_EQ(r.status, 0) << args.back() << ": " << r.err;
    EXPECT_EQ(r.state.data.nRows, 12);
    EXPECT_NE(r.out.find(" read as CSV: cells separated by tabs\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" 3 incomplete rows skipped"), std::string::npos) << r.out;
    EXPECT_EQ(sheetText(out("Taveltr.xls")), fromDat) << args.back();
  }

  // Quoted names: the .csv file, its copy as .txt and the same bytes piped
  // in without --csv give one sheet.
  std::string quoted = withSeparator(plain, ',');
  quoted.replace(0, quoted.find('\n'), "\"x01\",\"x02\",\"y\"");
  const std::string csv = file("q.csv", quoted);
  ASSERT_EQ(run({csv}).status, 0);
  const std::string fromCsv = sheetText(out("Taveltr.xls"));
  EXPECT_EQ(fromCsv, fromDat);
  fs::remove(out("Taveltr.xls"));
  Outcome r = run({file("q.txt", quoted)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" read as CSV: cells separated by commas\n"), std::string::npos);
  EXPECT_EQ(sheetText(out("Taveltr.xls")), fromCsv);
  BatchIo io;
  io.inputFd = pipeHolding(quoted);
  ASSERT_GE(io.inputFd, 0);
  fs::remove(out("Taveltr.xls"));
  r = run({"-"}, io);
  ::close(io.inputFd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sheetText(out("Taveltr.xls")), fromCsv);

  // A model fitted on the tab file predicts the tab file.
  const std::string model = (dir_ / "m.json").string();
  ASSERT_EQ(run({"--save-model", model, gaps}).status, 0);
  r = run({"--model", model, "--predict", gaps});
  ASSERT_EQ(r.status, 0) << r.err;
  // The titles, then every row of the file: 12 predicted, 3 with a missing value.
  const std::vector<std::string> rows = sheetLines(out("Tavelpr.xls"));
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                          [](const std::string& l) {
                            return l.find("\tmissing value\t") != std::string::npos;
                          }),
            3);

  r = run({"--csv", "--tsv", gaps});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--csv and --tsv"), std::string::npos) << r.err;
}

TEST_F(BatchFront, NamesAreReadWholeAndAsTheirLettersWereMeant) {
  // Twenty names of 21 characters: the last, the default dependent, lies
  // past the 256th character of the line.
  std::string header;
  for (int j = 1; j <= 20; ++j)
    header += (j < 20 ? "measured_quantity_" : "response_quantity_") +
              std::string(j < 10 ? "00" : "0") + std::to_string(j) + (j < 20 ? " " : "\n");
  ASSERT_GT(header.size(), 300u);
  std::string text = header;
  for (int i = 1; i <= 30; ++i) {
    int sum = 0;
    for (int j = 1; j < 20; ++j) {
      const int v = (i * (j + 3)) % 17 + j;
      sum += v;
      text += std::to_string(v) + " ";
    }
    text += std::to_string(sum + i % 5) + "\n";
  }
  Outcome r = run({file("wide.dat", text)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.data.numCol1, 20);
  EXPECT_EQ(depName(r), "response_quantity_020");
  EXPECT_EQ(r.state.selection.p, 19);

  // Latin-1 names: the model keeps the letters and predicts its own file.
  std::string latin = table(3, 12);
  latin.replace(0, latin.find('\n'), "Temp\xE9rature \xB5m y");
  const std::string latinFile = file("latin.dat", latin);
  const std::string model = (dir_ / "latin.json").string();
  r = run({"--save-model", model, latinFile});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" names read as Latin-1 and converted to UTF-8: Temp\xC3\xA9rature, "
                       "\xC2\xB5m\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(sheetText(out("Taveltr.xls")).find("Temp\xC3\xA9rature\tTemp\xC3\xA9rature_Tr\t"),
            std::string::npos);
  r = run({"--model", model, "--predict", latinFile});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> predicted = sheetLines(out("Tavelpr.xls"));
  ASSERT_EQ(predicted.size(), 13u);
  EXPECT_EQ(predicted[0].rfind("Row\tTemp\xC3\xA9rature\t\xC2\xB5m\t", 0), 0u) << predicted[0];

  // A tab inside a quoted name is a blank in the sheet, whose titles stay
  // one to a column.
  std::string tabbed = withSeparator(table(3, 12), ',');
  tabbed.replace(0, tabbed.find('\n'), "\"a\tb\",x02,y");
  r = run({file("tab.csv", tabbed)});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> sheet = sheetLines(out("Taveltr.xls"));
  ASSERT_GE(sheet.size(), 3u);
  const auto titleLine = std::find_if(sheet.begin(), sheet.end(), [](const std::string& l) {
    return l.find("a b\ta b_Tr\t") != std::string::npos;
  });
  ASSERT_NE(titleLine, sheet.end());
  EXPECT_EQ(std::count(titleLine->begin(), titleLine->end(), '\t'),
            std::count(sheet.back().begin(), sheet.back().end(), '\t'));

  // A data file of 150 characters' path.
  const fs::path deep = dir_ / std::string(150 - dir_.string().size() - 10, 'd');
  fs::create_directories(deep);
  const fs::path longPath = deep / "long.dat";
  ASSERT_EQ(longPath.string().size(), 150u);
  std::ofstream(longPath) << table(3, 12);
  r = run({longPath.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.data.dataFileName, longPath.string());
  EXPECT_NE(r.out.find(" open " + longPath.string() + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.state.data.nRows, 12);
}

// A Run that fails without saying so, or says so, is never a success.
TEST_F(BatchFront, FailuresOfTheRunExitOneWithOneLineEach) {
  const std::string good = file("good.dat", table(3, 12));
  BatchIo io;
  io.run = [](tavel::platform::Runtime&, tavel::app::AppState& s, tavel::app::Shell&) {
    s.problems.push_back("Taveltr.xls could not be written");
    s.problems.push_back("the log could not be written");
  };
  Outcome r = run({good}, io);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tavel-batch: Taveltr.xls could not be written\n"
            "tavel-batch: the log could not be written\n");

  // Silent: no sheet at all, then an earlier sheet left as it was.
  io.run = [](tavel::platform::Runtime&, tavel::app::AppState&, tavel::app::Shell&) {};
  r = run({good}, io);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Taveltr.xls was not written"), std::string::npos) << r.err;
  std::ofstream(out("Taveltr.xls")) << "an earlier run\n";
  r = run({good}, io);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Taveltr.xls was not written"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// The day-of-year fraction of a date, worked out here without the reader:
// 2024 is a leap year; days before each month.
double decimalYear2024(int month, int day) {
  static constexpr int kBefore[] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
  return 2024.0 + (kBefore[month - 1] + day - 1) / 366.0;
}

std::string shortest(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

// Files as R, pandas and spreadsheets write them analyse as the same data
// written cleanly as a .dat: a category is its label's number in label order,
// a date its decimal year. Files read wrong line by line are refused with the
// cause named.
TEST_F(BatchFront, RealWorldFilesAnalyseAsTheCleanFileOrAreRefused) {
  struct Row {
    double t, p;
    std::string site;
    int month, day;
    double y;
  };
  std::vector<Row> rows;
  const char* sites[] = {"south", "north", "east"};  // numbered east 1, north 2, south 3
  for (int i = 0; i < 24; ++i)
    rows.push_back({300.0 + 5 * i, 1.0 + (i * 7 % 5) * 0.5, sites[i % 3], 1 + i % 12, 1 + i % 27,
                    2.0 + 0.01 * i * i + (i % 3) * 0.7 + (i * 5 % 7) * 0.01});
  const auto number = [](const std::string& site) {
    return site == "east" ? 1 : site == "north" ? 2 : 3;
  };
  std::string clean = "T P site date Y\n";
  for (const Row& r : rows)
    clean += shortest(r.t) + " " + shortest(r.p) + " " + std::to_string(number(r.site)) + " " +
             shortest(decimalYear2024(r.month, r.day)) + " " + shortest(r.y) + "\n";
  const std::vector<std::string> choice = {"--dep", "Y",       "--indep", "T",       "--indep",
                                           "P",     "--indep", "site",    "--indep", "date"};
  const auto sheet = [&](std::vector<std::string> args) {
    fs::remove(out("Taveltr.xls"));
    args.insert(args.begin(), choice.begin(), choice.end());
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << args.back() << ": " << r.err;
    std::ifstream in(out("Taveltr.xls"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string expected = sheet({"--flag", "site=5", file("clean.dat", clean)});
  ASSERT_NE(expected.find("site_Tr"), std::string::npos);

  // Each writer's form of the rows; `cells` gives one row's cells in order.
  const auto write = [&](const std::string& header, const std::string& sep, bool commaDecimal,
                         bool rowNumbers, bool naRows) {
    std::string text = header + "\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& r = rows[i];
      char date[16];
      std::snprintf(date, sizeof date, "2024-%02d-%02d", r.month, r.day);
      std::vector<std::string> cells = {shortest(r.t), shortest(r.p), "\"" + r.site + "\"", date,
                                        shortest(r.y)};
      if (commaDecimal)
        for (std::string& c : cells) std::replace(c.begin(), c.end(), '.', ',');
      if (rowNumbers) cells.insert(cells.begin(), "\"" + std::to_string(i + 1) + "\"");
      std::string line;
      for (const std::string& c : cells) line += (line.empty() ? "" : sep) + c;
      text += line + "\n";
      if (naRows && i % 8 == 3)
        text += std::string(rowNumbers ? "\"x\"" + sep : "") + "NA" + sep + "1" + sep + "\"east\"" +
                sep + "2024-01-01" + sep + "3\n";
    }
    return text;
  };
  EXPECT_EQ(sheet({file("r.csv", write("\"\",\"T\",\"P\",\"site\",\"date\",\"Y\"", ",", false, true,
                                       true))}),
            expected)
      << "R write.csv";
  EXPECT_EQ(sheet({file("pandas.csv", write(",T,P,site,date,Y", ",", false, true, false))}),
            expected)
      << "pandas to_csv";
  EXPECT_EQ(sheet({file("de.csv", write("T;P;site;date;Y", ";", true, false, true))}), expected)
      << "German export";
  EXPECT_EQ(sheet({file("t.tsv", write("T\tP\tsite\tdate\tY", "\t", false, false, true))}),
            expected)
      << "TSV";
  EXPECT_EQ(sheet({file("quoted.txt",
                        write("\"T\",\"P\",\"site\",\"date\",\"Y\"", ",", false, false, false))}),
            expected)
      << "quoted CSV as .txt";
  // An identifier column (every label its own) is set aside.
  std::string withId = "id " + clean.substr(0, clean.find('\n')) + "\n";
  for (std::size_t i = 0, at = clean.find('\n') + 1; i < rows.size(); ++i) {
    const std::size_t end = clean.find('\n', at);
    withId += "S" + std::to_string(100 + i) + " " + clean.substr(at, end - at) + "\n";
    at = end + 1;
  }
  EXPECT_EQ(sheet({"--flag", "site=5", file("id.dat", withId)}), expected) << "id column";

  // Whitespace files read wrong on every line are refused with the cause.
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"T [K] P Y\n300 1.5 2.0\n310 2.5 3.0\n",
       "has 4 names but line 2 has 3 values: a name with a blank?"},
      {"X Y\n6,606 1,8871\n7,1 2,5\n", "looks like decimal commas or digit grouping"},
  };
  for (const auto& [text, message] : refused) {
    const Outcome r = run({file("bad.dat", text)});
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  // Lines that disagree here and there are read by the rules, and said.
  const Outcome r = run({file("some.dat", "A B C\n1 2 3\n4 5\n6\n7 8 9 10\n2 3 4\n5 6 7\n")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.state.data.nRows, 5);  // "4 5" with "6" is one row; the 10 is not read
  EXPECT_EQ(r.err,
            "tavel-batch: warning: 2 lines have fewer values than names (the first at line 3): "
            "the row goes on over the next line\n"
            "tavel-batch: warning: 1 line has more values than names (the first at line 5): the "
            "values beyond the names are not read\n");
}

// Predictions list every row of the file they read, in order, and say what
// became of the rows they could not predict.
TEST_F(BatchFront, PredictionsKeepOneRecordPerRowOfTheFile) {
  std::string fit = "site T Y\n";
  for (int i = 0; i < 18; ++i)
    fit += std::string(i % 2 ? "cu" : "pt") + " " + std::to_string(300 + 3 * i) + " " +
           std::to_string(1.0 + 0.1 * i + (i % 2) * 0.5) + "\n";
  const std::string model = (dir_ / "m.json").string();
  ASSERT_EQ(run({"--save-model", model, file("fit.dat", fit)}).status, 0);

  const std::string rows = "site,T,Y\nau,310,1\ncu,NA,2\npt,hot,3\npt,320,4\n";
  const auto statuses = [&]() {
    std::vector<std::string> got;
    std::ifstream in(out("Tavelpr.xls"), std::ios::binary);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.rfind("Row\tsite\tT\t", 0), 0u) << line;
    while (std::getline(in, line)) {
      const std::size_t end = line.rfind('\t', line.size() - 2);
      got.push_back(line.substr(0, line.find('\t')) + " " +
                    line.substr(end + 1, line.size() - end - 2));
    }
    return got;
  };
  const std::vector<std::string> expected = {"1 unknown category", "2 missing value",
                                             "3 unreadable", "4 ok"};
  Outcome r = run({"--model", model, "--predict", file("new.csv", rows)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(statuses(), expected);

  // The same rows from standard input.
  BatchIo io;
  io.inputFd = pipeHolding(rows);
  ASSERT_GE(io.inputFd, 0);
  fs::remove(out("Tavelpr.xls"));
  r = run({"--model", model, "--predict", "-"}, io);
  ::close(io.inputFd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(statuses(), expected);

  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"site,T,T\npt,300,301\n", "has 2 columns named T, which cannot be told apart"},
           {"site,T,Y\n", "has no data rows"}}) {
    r = run({"--model", model, "--predict", file("bad.csv", text)});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Tavelpr.xls was not written"), std::string::npos) << r.err;
  }
}

namespace {

class BatchCommandLine : public BatchFront {};

// Every file of a folder with its bytes.
std::map<std::string, std::string> filesOf(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

TEST_F(BatchCommandLine, ValuesJoinedByAnEqualsSignMeanWhatTheyMeanApart) {
  const std::string good = file("good.dat", table(3, 12));
  const Outcome apart = run({"--numterm", "3", "--flag", "x01=linear", "--dep", "y", good});
  ASSERT_EQ(apart.status, 0) << apart.err;
  const auto separate = filesOf(out());
  const Outcome joined = run({"--numterm=3", "--flag=x01=linear", "--dep=y", good});
  ASSERT_EQ(joined.status, 0) << joined.err;
  EXPECT_EQ(joined.state.options.NumTerm, 3);
  EXPECT_EQ(joined.out, apart.out);
  EXPECT_EQ(filesOf(out()), separate);
}

TEST_F(BatchCommandLine, UsageErrorsNameTheOptionInOneLine) {
  const std::string good = file("good.dat", table(3, 12));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--e", good},
       "tavel-batch: option '--e' is ambiguous (--equilibration, --extrapolate, --export); see "
       "tavel-batch --help\n"},
      {{"--captures=yes", good},
       "tavel-batch: --captures takes no value; see tavel-batch --help\n"},
      {{"--weights", "w", good},
       "tavel-batch: unknown option '--weights'; see tavel-batch --help\n"},
      {{"-q", good}, "tavel-batch: unknown option '-q'; see tavel-batch --help\n"},
      {{"--bass=11", good},
       "tavel-batch: --bass needs a number from 0 to 10, such as 2.5, not '11'; see tavel-batch "
       "--help\n"},
      {{good, "--dep"}, "tavel-batch: --dep needs a name; see tavel-batch --help\n"},
      {{"--", good, "--csv"},
       "tavel-batch: more than one data file given; see tavel-batch --help\n"},
  };
  for (const auto& [args, line] : cases) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err, line) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
  // An abbreviation that is one option's alone is that option.
  EXPECT_EQ(run({"--equil", "--flag", "x01=3", "--flag", "x02=3", good}).status, 0);
  EXPECT_TRUE(fs::exists(out("Tavelcr.xls")));
}

TEST_F(BatchCommandLine, QuietPrintsNothingAndWritesTheSameFiles) {
  const std::string good = file("good.dat", table(3, 12));
  const Outcome loud = run({"--cv", "3", "--save-model", (dir_ / "m.json").string(), good});
  ASSERT_EQ(loud.status, 0) << loud.err;
  ASSERT_FALSE(loud.out.empty());
  auto before = filesOf(out());
  before["m.json"] = filesOf(dir_)["m.json"];
  const Outcome quiet =
      run({"--quiet", "--cv", "3", "--save-model", (dir_ / "m.json").string(), good});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, loud.err);
  auto after = filesOf(out());
  after["m.json"] = filesOf(dir_)["m.json"];
  EXPECT_EQ(after, before);
  // Refusals still reach standard error.
  const Outcome refused = run({"--quiet", "--dep", "NOPE", good});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "tavel-batch: unknown variable 'NOPE'\n");
}

}  // namespace
