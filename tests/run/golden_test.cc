// SPDX-License-Identifier: GPL-3.0-or-later
// Whole analyses through tavel-batch, compared byte for byte with the files
// a person read and checked in tests/run/golden/ (its README says what each
// analysis covers). A report change shows up here as a diff to review, and a
// digit that changes by accident fails the test.
//
// Regenerate: tests/run/golden/update.sh BUILD_DIR (it runs these tests with
// TAVEL_UPDATE_GOLDEN=1, which writes the files instead of comparing them).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_front.h"
#include "platform/headless/blank_canvas.h"

namespace {

namespace fs = std::filesystem;

const fs::path kGoldenDir = TAVEL_GOLDEN_DIR;
const fs::path kExamplesDir = TAVEL_EXAMPLES_DIR;

// What a run may leave that is compared. The screens are tavel-batch's
// standard output of the analysis and of the prediction with its model;
// pictures are named in the log, their pixels are the business of the Qt
// canvas tests; the model file's layout is free, the predictions it gives
// are not.
const char* const kCompared[] = {"screen.txt",  "Tavel.log",   "Taveltr.xls",
                                 "Tavelcr.xls", "Tavelpr.xls", "predict_screen.txt"};

struct Analysis {
  std::string name;               // the folder of its golden files
  fs::path input;                 // the data file
  std::vector<std::string> args;  // before the data file
  // New rows for the analysis's model (saved with --save-model), predicted
  // by a second tavel-batch --model --predict; empty: none.
  fs::path predict;
  // Lines the screen or standard error must hold whatever the golden files
  // say: answers known from how the data were made, and warnings (standard
  // error is not kept), so a regenerated file cannot quietly lose them.
  std::vector<std::string> known;
};

// Standard output and error of one tavel-batch command line.
struct Said {
  int status = -1;
  std::string out, err;
};

void PrintTo(const Analysis& a, std::ostream* os) { *os << a.name; }

std::vector<Analysis> analyses() {
  const fs::path in = kGoldenDir / "inputs";
  return {
      {"plain", kExamplesDir / "reaction_rates.dat", {}, {}, {}},
      {"ln_dependent",
       in / "arrhenius.dat",
       {"--dep", "_ln_K", "--indep", "T", "--indep", "C", "--flag", "T=monotone", "--flag",
        "C=monotone", "--equilibration", "--cv", "4"},
       in / "arrhenius_new.dat",
       {" Tavelpr.xls is done"}},
      {"equilibration",
       in / "viscosity.dat",
       {"--flag", "TEMP=monotone", "--flag", "PRESS=monotone", "--equilibration"},
       {},
       {"  EQUILIBRATION IS ENABLED", " Tavelcr.xls is done"}},
      {"csv_category",
       in / "yield.csv",
       {"--dep", "yield"},
       {},
       {" the first column has no name: read as row names, not used",
        " column 'site' holds text (line 2: 'S1'): offered as a category: S1 = 1, S2 = 2, S3 = 3"}},
      {"mixed_flags",
       in / "mixed.dat",
       {"--flag", "HOUR=circular", "--flag", "CAT=unorderable", "--flag", "DOSE=linear",
        "--equilibration"},
       {},
       {" Flag:            5          4          2          1          3",
        "tavel-batch: warning: --equilibration was not done: it needs every chosen variable "
        "monotone (flag 3); the run goes on without it"}},
      {"cv_tune", in / "smooth.dat", {"--cv", "5", "--tune"}, {}, {}},
      // Y = 1.5 + 2 A - 0.5 B exactly: with every transformation linear the
      // fit is exact.
      {"linear_captures",
       in / "linear.dat",
       {"--flag", "A=linear", "--flag", "B=linear", "--flag", "Y=linear", "--captures"},
       {},
       {" FINAL SQUARED CORRELATION = 1.0000"}},
  };
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The data file's folder differs from run to run and appears where the scan
// says which file it opens. It is written as <dir>, and the blanks that pad
// that line to a fixed width (so depend on the folder's length) are dropped.
std::string normalised(const std::string& text, const std::string& runDir) {
  std::string out;
  for (std::string line : splitLines(text)) {
    bool named = false;
    for (std::size_t at; (at = line.find(runDir)) != std::string::npos; named = true)
      line.replace(at, runDir.size(), "<dir>");
    if (named) line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  // A text without its last line end keeps that difference visible.
  if (!text.empty() && text.back() != '\n') out.pop_back();
  return out;
}

// A unified-diff-like account of the first difference, with a line before it.
std::string firstDifference(const std::string& golden, const std::string& actual,
                            const std::string& label) {
  const std::vector<std::string> g = splitLines(golden), a = splitLines(actual);
  std::size_t i = 0;
  while (i < g.size() && i < a.size() && g[i] == a[i]) ++i;
  std::ostringstream s;
  s << "--- tests/run/golden/" << label << "\n+++ this run\n@@ line " << i + 1 << " @@\n";
  if (i > 0) s << " " << g[i - 1] << "\n";
  if (i < g.size()) s << "-" << g[i] << "\n";
  if (i < a.size()) s << "+" << a[i] << "\n";
  if (i == g.size() && i == a.size()) s << "(the same lines: only the last line end differs)\n";
  if (i < g.size() && i < a.size()) {
    auto squeezed = [](std::string t) {
      std::erase_if(t, [](unsigned char c) { return std::isspace(c); });
      return t;
    };
    if (squeezed(g[i]) == squeezed(a[i])) s << "(the lines differ in blanks or tabs only)\n";
  }
  s << "If the change is meant: tests/run/golden/update.sh BUILD_DIR, then review the diff.";
  return s.str();
}

// Pictures are "saved" as a placeholder file, so the run sees each capture
// succeed without drawing pixels.
class PlaceholderPictureCanvas : public tavel::platform::headless::BlankCanvas {
 public:
  int saveImage(const std::string& path, int, int, int, int) override {
    std::ofstream out(path, std::ios::binary);
    out << "picture\n";
    return out ? 0 : -1;
  }
};

class GoldenRun : public ::testing::TestWithParam<Analysis> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tavel-golden-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = fs::canonical(pattern);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_P(GoldenRun, OutputsMatchTheReviewedFiles) {
  const Analysis& a = GetParam();
  const fs::path data = dir_ / a.input.filename();
  fs::copy_file(a.input, data);
  const fs::path out = dir_ / "out";
  fs::create_directory(out);

  auto tavelBatch = [&out](std::vector<std::string> args) {
    Said said;
    tavel::batch::BatchIo io;
    io.out = [&said](std::string_view t) { said.out += t; };
    io.err = [&said](std::string_view t) { said.err += t; };
    io.canvas = [] { return std::make_unique<PlaceholderPictureCanvas>(); };
    args.insert(args.begin(), {"--outdir", out.string()});
    tavel::app::AppState state;
    said.status = tavel::batch::runBatch(args, io, state);
    return said;
  };
  std::vector<Said> runs;
  std::vector<std::string> args = a.args;
  const fs::path model = dir_ / "model.json";
  if (!a.predict.empty()) args.insert(args.end(), {"--save-model", model.string()});
  args.push_back(data.string());
  runs.push_back(tavelBatch(args));
  ASSERT_EQ(runs.back().status, tavel::batch::kExitDone) << runs.back().err;
  writeFile(out / "screen.txt", runs.back().out);
  if (!a.predict.empty()) {
    const fs::path rows = dir_ / a.predict.filename();
    fs::copy_file(a.predict, rows);
    runs.push_back(tavelBatch({"--model", model.string(), "--predict", rows.string()}));
    ASSERT_EQ(runs.back().status, tavel::batch::kExitDone) << runs.back().err;
    writeFile(out / "predict_screen.txt", runs.back().out);
  }

  std::vector<std::string> said;
  for (const Said& run : runs)
    for (const std::string* text : {&run.out, &run.err})
      for (const std::string& line : splitLines(*text)) said.push_back(line);
  for (const std::string& line : a.known)
    EXPECT_NE(std::ranges::find(said, line), said.end())
        << "neither the screen nor standard error holds the known line\n"
        << line;

  const fs::path golden = kGoldenDir / a.name;
  const char* update = std::getenv("TAVEL_UPDATE_GOLDEN");
  const bool updating = update != nullptr && std::string(update) == "1";
  if (updating) fs::create_directories(golden);
  for (const char* name : kCompared) {
    const fs::path made = out / name, kept = golden / name;
    const std::string label = a.name + "/" + name;
    if (updating) {
      if (fs::exists(made))
        writeFile(kept, normalised(readFile(made), dir_.string()));
      else
        fs::remove(kept);
      continue;
    }
    if (!fs::exists(made) || !fs::exists(kept)) {
      EXPECT_EQ(fs::exists(made), fs::exists(kept))
          << label
          << (fs::exists(made) ? " was made but has no golden file"
                               : " has a golden file but the run did not make it");
      continue;
    }
    const std::string expected = readFile(kept);
    const std::string actual = normalised(readFile(made), dir_.string());
    if (actual != expected) ADD_FAILURE() << firstDifference(expected, actual, label);
  }
  if (updating) std::cout << "updated tests/run/golden/" << a.name << "\n";
}

INSTANTIATE_TEST_SUITE_P(Analyses, GoldenRun, ::testing::ValuesIn(analyses()),
                         [](const ::testing::TestParamInfo<Analysis>& info) {
                           return info.param.name;
                         });

}  // namespace
