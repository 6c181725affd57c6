// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch end to end: exit codes, messages, and files byte for byte equal
// to those of the same choices made through the dialogs.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

using Result = tavel::qt_test::CommandResult;  // out: standard output and error together

// The program under test; the sanitizer pass points this at its own build.
std::string batchPath() {
  const char* other = std::getenv("TAVEL_BATCH_UNDER_TEST");
  return other != nullptr && *other != '\0' ? other : TAVEL_BATCH_PATH;
}

// Runs a shell command line with the program's path in $B.
Result runShell(const std::string& script) {
  // A hang ends as status 124 instead of stopping the tests.
  return tavel::qt_test::runCommand("B='" + batchPath() + "' timeout 120 bash -c '" + script +
                                    "' 2>&1");
}

Result runBatch(const std::string& args) { return runShell("\"$B\" " + args); }

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

TEST(TavelBatch, UsageErrorsExitTwoWithOneLine) {
  for (const std::string args : {"", "--numterm", "--flag T", "--flag T=sideways x.dat",
                                 "--nonsense x.dat", "a.dat b.dat"}) {
    const Result r = runBatch(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("; see tavel-batch --help"), std::string::npos) << args;
  }
  EXPECT_NE(runBatch("--help").out.find("usage: tavel-batch"), std::string::npos);
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
  EXPECT_NE(r.out.find("Too few observations for the smoothers: 3 rows"), std::string::npos)
      << r.out;
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

// Data that arrives through a pipe is read twice (scan and Run) all the same.
TEST(TavelBatch, PipesAndStandardInputAreAnalysedLikeTheFile) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("pipes");
  const std::string ex = TAVEL_EXAMPLE_PATH;
  const std::string choice = "--dep RATE --indep T --indep P --outdir " + dir.string();
  Result r = runBatch(choice + " " + ex);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string expected = slurp(dir / "Taveltr.xls");
  for (const std::string& script : {"cat " + ex + " | \"$B\" " + choice + " -",
                                    "cat " + ex + " | \"$B\" " + choice + " /dev/stdin",
                                    "\"$B\" " + choice + " <(cat " + ex + ")"}) {
    fs::remove(dir / "Taveltr.xls");
    r = runShell(script);
    EXPECT_EQ(r.status, 0) << script << "\n" << r.out;
    EXPECT_TRUE(slurp(dir / "Taveltr.xls") == expected) << script;
  }
  // The report on standard output is asked for as much as the files.
  r = runShell("\"$B\" " + choice + " " + ex + " >/dev/full");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("standard output could not be written"), std::string::npos) << r.out;
}

TEST(TavelBatch, AnExportedDisplayPlatformIsIgnored) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("xcb");
  const Result r = runShell(
      "QT_QPA_PLATFORM=xcb DISPLAY= WAYLAND_DISPLAY= \"$B\" --captures "
      "--outdir " +
      dir.string() + " " + TAVEL_EXAMPLE_PATH);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(fs::exists(dir / "pic_A.bmp"));
}

// Someone else's link planted at the shared runtime folder's name must not
// have its target's mode changed.
TEST(TavelBatch, APlantedRuntimeFolderLinkIsNotFollowed) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("runtime");
  const fs::path shared = "/tmp/tavel-runtime-" + std::to_string(::getuid());
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(shared)) && !fs::remove(shared, ec))
    GTEST_SKIP() << shared << " is in use";
  fs::remove(shared, ec);
  std::ofstream(dir / "target") << "x";
  fs::permissions(dir / "target", fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
  fs::create_symlink(dir / "target", shared);
  const Result r = runShell("env -u XDG_RUNTIME_DIR \"$B\" --captures --outdir " + dir.string() +
                            " " + TAVEL_EXAMPLE_PATH);
  fs::remove(shared, ec);
  EXPECT_EQ(r.status, 0) << r.out;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// Killed while it copies a pipe that never ends, the program leaves no
// temporary file behind.
TEST(TavelBatch, TheCopyOfAPipeIsRemovedWhenTheProgramIsTerminated) {
  tavel::qt_test::app();
  const fs::path dir = freshDir("killed");
  fs::create_directories(dir / "tmp");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  const std::string tmpdir = "TMPDIR=" + (dir / "tmp").string();
  const std::string path = batchPath();
  std::string outdir = (dir / "out").string(), dash = "-", flag = "--outdir";
  char* argv[] = {const_cast<char*>(path.c_str()), flag.data(), outdir.data(), dash.data(),
                  nullptr};
  char* envp[] = {const_cast<char*>(tmpdir.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  const std::string rows = "A B\n1 2\n";
  for (int i = 0; i < 200 && fs::is_empty(dir / "tmp"); ++i) {
    ASSERT_GT(::write(fds[1], rows.data(), rows.size()), 0);
    ::usleep(20000);
  }
  EXPECT_FALSE(fs::is_empty(dir / "tmp")) << "the copy never started";
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(fds[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

}  // namespace

// Limits of the machine end the program with a message and leave the folder
// as it was: too little memory for the rows, files that may not grow.
TEST(TavelBatch, MemoryAndFileSizeLimitsEndWithAMessageNotASignal) {
  if (std::getenv("TAVEL_BATCH_UNDER_TEST") != nullptr)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
  const fs::path dir = freshDir("limits");
  {
    std::ofstream big(dir / "big.dat");
    big << "A B C\n";
    for (int i = 0; i < 1000000; ++i) big << i % 997 << ' ' << i % 13 << ' ' << i % 101 + 1 << '\n';
  }
  fs::create_directories(dir / "out");
  std::ofstream(dir / "out" / "Taveltr.xls") << "earlier\n";
  // The example starts and runs under the limit; a million rows do not fit
  // (a plain run starts no Qt and keeps the fit's columns in the engine's
  // own arrays, so the limit is well below what the GUI needs).
  const std::string limit = "ulimit -v 150000; ";
  const Result small = runShell(limit + "\"$B\" --outdir " + (dir / "small").string() + " " +
                                TAVEL_EXAMPLE_PATH + " >/dev/null");
  if (small.status != 0)
    GTEST_SKIP() << "the program needs more than the limit here: " << small.out;
  const Result r =
      runShell(limit + "\"$B\" --save-model " + (dir / "m.json").string() + " --outdir " +
               (dir / "out").string() + " " + (dir / "big.dat").string() + " >/dev/null");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("tavel-batch: not enough memory for 1000000 rows x 3 variables"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("m.json was not written"), std::string::npos) << r.out;
  EXPECT_EQ(slurp(dir / "out" / "Taveltr.xls"), "earlier\n");
  for (const auto& e : fs::directory_iterator(dir / "out"))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();

  // Files limited to 4 kB: the log and the sheet cannot be written.
  const Result f = runShell("ulimit -f 4; \"$B\" --outdir " + (dir / "out").string() + " " +
                            TAVEL_EXAMPLE_PATH + " >/dev/null");
  EXPECT_EQ(f.status, 1) << f.out;
  EXPECT_NE(f.out.find("Taveltr.xls could not be written"), std::string::npos) << f.out;
  EXPECT_EQ(slurp(dir / "out" / "Taveltr.xls"), "earlier\n");
}
