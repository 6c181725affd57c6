// tavel-batch end to end: exit codes, messages, and files byte for byte equal
// to those of the same choices made through the dialogs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/shell.h"
#include "platform/headless/headless_runtime.h"
#include "platform/qt/qimage_canvas.h"
#include "run/run_command.h"
#include "tests/qt/qt_test_support.h"

namespace {

namespace fs = std::filesystem;
using tavel::platform::headless::DialogAction;

struct Result {
  int status = -1;
  std::string out;  // standard output and error together
};

Result runBatch(const std::string& args) {
  const std::string command = std::string(TAVEL_BATCH_PATH) + " " + args + " 2>&1";
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

fs::path freshDir(const std::string& name) {
  const fs::path dir = fs::path(tavel::qt_test::tempDir().toStdString()) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

const char kChoices[] =
    "--dep _ln_RATE --indep T --indep P --flag T=monotone --flag P=3 --equilibration "
    "--captures ";

TEST(TavelBatch, ExampleRunWritesTheFilesAUserWouldGetThroughTheDialogs) {
  tavel::qt_test::app();
  const fs::path batchDir = freshDir("batch");
  const Result r =
      runBatch(std::string(kChoices) + "--outdir " + batchDir.string() + " " + TAVEL_EXAMPLE_PATH);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("FINAL SQUARED CORRELATION ="), std::string::npos);
  EXPECT_NE(r.out.find("Taveltr.xls is done"), std::string::npos);
  EXPECT_EQ(slurp(batchDir / "Taveltr.xls").substr(0, 12), "  200\t    2\t");
  EXPECT_EQ(slurp(batchDir / "Tavelcr.xls").substr(0, 12), "  200\t    2\t");
  EXPECT_EQ(slurp(batchDir / "Tavel.log").substr(0, 6), " open ");

  // The same choices, made by a user through the menus and dialogs.
  const fs::path guiDir = freshDir("gui");
  tavel::platform::headless::HeadlessRuntime runtime(
      guiDir.string(), [] { return std::make_unique<tavel::platform::qt::QImageCanvas>(); });
  tavel::app::AppState state;
  tavel::app::Shell shell(runtime, state);
  ASSERT_TRUE(shell.buildMenus());
  shell.setRunCommand([&] { tavel::run::onRun(runtime, state, shell); });
  shell.startUp();
  runtime.queueFileChoice(fs::absolute(TAVEL_EXAMPLE_PATH).string());
  // Sorted include list: _ln_RATE, P, T ('_' sorts before letters); the
  // dependent is row 1.
  runtime.queueDialogScript(
      101, {DialogAction::select(1016, {"P", "T", "_ln_RATE"}), DialogAction::press(1018),
            DialogAction::clickRadio(1052), DialogAction::press(1)});
  runtime.invokeMenu("&Input Dat File...");
  runtime.queueDialogScript(107, {DialogAction::select(1016, {"T"}), DialogAction::clickRadio(1175),
                                  DialogAction::select(1016, {"P"}), DialogAction::clickRadio(1175),
                                  DialogAction::check(1180, true), DialogAction::check(1181, true),
                                  DialogAction::press(1)});
  runtime.invokeMenu("&Options");
  runtime.invokeMenu("&Run");
  runtime.close(2);

  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(guiDir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  std::vector<std::string> batchNames;
  for (const auto& e : fs::directory_iterator(batchDir)) batchNames.push_back(e.path().filename());
  std::sort(batchNames.begin(), batchNames.end());
  EXPECT_EQ(names, batchNames);
  EXPECT_NE(std::find(names.begin(), names.end(), "pic_A.bmp"), names.end());
  for (const std::string& name : names) {
    EXPECT_TRUE(slurp(guiDir / name) == slurp(batchDir / name)) << name << " differs";
  }
}

TEST(TavelBatch, UsageErrorsExitTwoWithTheUsage) {
  for (const std::string args : {"", "--numterm", "--flag T", "--flag T=sideways x.dat",
                                 "--nonsense x.dat", "a.dat b.dat"}) {
    const Result r = runBatch(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.out.find("usage: tavel-batch"), std::string::npos) << args;
  }
  EXPECT_EQ(runBatch("--help").status, 0);
  EXPECT_NE(runBatch("--version").out.find("tavel-batch"), std::string::npos);
}

TEST(TavelBatch, AnalysesThatCannotRunExitOneWithAMessage) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("cannot");
  std::ofstream(dir / "few.dat") << "A B\n1 2\n2 3\n3 5\n";
  std::ofstream(dir / "none.dat") << "A B\n";

  Result r = runBatch("--dep NOPE --outdir " + dir.string() + " " + TAVEL_EXAMPLE_PATH);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("unknown variable 'NOPE'"), std::string::npos) << r.out;

  r = runBatch("--outdir " + dir.string() + " " + (dir / "few.dat").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("at least 5 observations"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir / "Taveltr.xls"));

  r = runBatch("--outdir " + dir.string() + " " + (dir / "none.dat").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("no data rows"), std::string::npos) << r.out;

  r = runBatch("--indep T --dep T --outdir " + dir.string() + " " + TAVEL_EXAMPLE_PATH);
  EXPECT_EQ(r.status, 1);
}

TEST(TavelBatch, UnusableOutputFolderGivesAClearMessageAndNoFiles) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("blocked");
  std::ofstream(dir / "file") << "x";
  // A folder below a regular file can never be made, whoever runs the test.
  const Result r =
      runBatch("--outdir " + (dir / "file" / "out").string() + " " + TAVEL_EXAMPLE_PATH);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot use output folder"), std::string::npos) << r.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
