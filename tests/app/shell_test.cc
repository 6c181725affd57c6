// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shell.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "app_test_support.h"
#include "platform/headless/recording_canvas.h"

namespace tavel::app::testing {
namespace {

using platform::BuiltinAction;

TEST(ShellMenus, EntriesInTableOrderAndTheFailingAppend) {
  platform::headless::HeadlessRuntime runtime;
  AppState state;
  Shell shell(runtime, state);
  ASSERT_TRUE(shell.buildMenus());
  const struct {
    int menu;
    const char* text;
    bool command;
    BuiltinAction action;
  } expected[] = {
      {1, "&File", false, BuiltinAction::None},
      {1, "&Input Dat File...", true, BuiltinAction::None},
      {1, "E&xit", true, BuiltinAction::None},
      {1, "Save &Model...", true, BuiltinAction::None},
      {1, "&Open Model...", true, BuiltinAction::None},
      {1, "&Predict New Data...", true, BuiltinAction::None},
      {1, "&Export Results...", true, BuiltinAction::None},
      {2, "&Prepare", true, BuiltinAction::None},
      {3, "&Options", true, BuiltinAction::None},
      {4, "&Run", true, BuiltinAction::None},
      {5, "&Windows...", false, BuiltinAction::None},
      {5, "&Cascade", false, BuiltinAction::Cascade},
      {5, "&Full screen", false, BuiltinAction::FullScreen},
      {5, "&About...", false, BuiltinAction::About},
      {5, "&Tabbed View", false, BuiltinAction::TabbedView},
      {6, "&Help", false, BuiltinAction::None},
      {6, "Tavel &Help", false, BuiltinAction::Help},
      {6, "&About Tavel...", false, BuiltinAction::About},
  };
  ASSERT_EQ(runtime.menus().size(), 18u);
  for (std::size_t i = 0; i < 18; ++i) {
    const auto& m = runtime.menus()[i];
    EXPECT_EQ(m.menu, expected[i].menu);
    EXPECT_EQ(m.text, expected[i].text);
    EXPECT_TRUE(m.enabled);
    EXPECT_EQ(static_cast<bool>(m.callback), expected[i].command) << m.text;
    EXPECT_EQ(m.action, expected[i].action) << m.text;
  }

  platform::headless::HeadlessRuntime failing;
  Shell second(failing, state);
  failing.failMenuAppendAt(4);
  EXPECT_FALSE(second.buildMenus());
  EXPECT_EQ(failing.menus().size(), 3u);
}

class ShellTest : public AppTest {};

TEST_F(ShellTest, StartUp) {
  // Start again with old pictures and an old log in place. Only the names
  // the capture counter makes (character codes 64 "@" to 93 "]") go.
  std::vector<std::string> ours,
      theirs = {"pic_.bmp",  "pic_holiday.bmp", "pic_AB.bmp", "pic_a.bmp",
                "pic_?.bmp", "pic_^.bmp",       "pic_A.txt",  "apic_B.bmp"};
  for (char c = 64; c <= 93; ++c) ours.push_back(std::string("pic_") + c + ".bmp");
  for (const auto& name : ours) writeFile(name, "x");
  for (const auto& name : theirs) writeFile(name, "x");
  runtime_->close(kLogUnit);
  writeFile("Tavel.log", "earlier run\n");
  shell_->startUp();
  for (const auto& name : ours) EXPECT_FALSE(exists(name)) << name;
  for (const auto& name : theirs) EXPECT_TRUE(exists(name)) << name;

  const std::string& about = runtime_->aboutText();
  EXPECT_EQ(about.substr(0, 7), "TAVEL\r\r");
  EXPECT_EQ(std::count(about.begin(), about.end(), '\r'), 3);
  // The version of the build, a plain release number (no "beta" beside it).
  EXPECT_TRUE(std::regex_match(about.substr(about.rfind('\r')),
                               std::regex("\rVersion [0-9]+\\.[0-9]+(\\.[0-9]+)?")))
      << about;

  platform::Geometry frame, output;
  ASSERT_TRUE(runtime_->getGeometry(platform::kFrameUnit, frame));
  ASSERT_TRUE(runtime_->getGeometry(platform::kScreenUnit, output));
  EXPECT_EQ(output.width, frame.width);  // maximised in the frame
  EXPECT_EQ(output.height, frame.height);

  // The log keeps its content until the first line replaces it.
  EXPECT_EQ(logText(), "earlier run\n");
  writeFile("a.dat", "A\n");
  scan("a.dat");
  EXPECT_EQ(logText(), " open a.dat" + std::string(95, ' ') + "\n");
}

TEST_F(ShellTest, LogThatCannotBeOpenedLeavesTheProgramRunning) {
  // A folder, or a pipe that nothing reads (writing to it would wait for
  // ever), in the log's place.
  for (int pipe = 0; pipe <= 1; ++pipe) {
    SCOPED_TRACE(pipe ? "pipe" : "folder");
    runtime_->close(kLogUnit);
    std::filesystem::remove(path("Tavel.log"));
    if (pipe)
      ASSERT_EQ(::mkfifo(path("Tavel.log").c_str(), 0600), 0);
    else
      std::filesystem::create_directory(path("Tavel.log"));
    runtime_->clearFocusedWindow();
    state_.problems.clear();
    shell_->startUp();
    const std::string line =
        "error: Tavel.log is not a regular file (a folder, pipe or device); the run log is not "
        "written";
    EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" " + line}));
    EXPECT_EQ(state_.problems, (std::vector<std::string>{line}));
    EXPECT_FALSE(runtime_->isOpen(kLogUnit));
    writeFile("ab.dat", "A B\n1 2\n");
    scan("ab.dat");
    EXPECT_EQ(state_.data.nRows, 1);
  }
}

TEST_F(ShellTest, LogIsOnDiskAtTheEndOfEveryCommand) {
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");                                    // its Prepare dialog writes too
  const std::string onDisk = readFile("Tavel.log");  // not flushed by the test
  EXPECT_EQ(onDisk.substr(0, 12), " open ab.dat");
  EXPECT_NE(onDisk.find("numCol1="), std::string::npos);
}

TEST_F(ShellTest, LostLogLinesAreReportedOnce) {
  // The log may grow to 4 kB only; a larger write fails as on a full disk.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  const std::string big(8000, 'x');
  runtime_->writeLine(kLogUnit, big);
  // The Run closes and reopens the log: the loss must still be seen.
  runtime_->close(kLogUnit);
  ASSERT_TRUE(runtime_->openFile(kLogUnit, "Tavel.log", true));
  runtime_->clearFocusedWindow();
  EXPECT_TRUE(runtime_->invokeMenu("&Prepare"));
  const std::string line =
      "error: Tavel.log could not be written (a full disk or a write error): lines are missing "
      "from it";
  EXPECT_EQ(runtime_->screen(), (std::vector<std::string>{" " + line}));
  EXPECT_EQ(state_.problems, (std::vector<std::string>{line}));

  runtime_->writeLine(kLogUnit, big);
  EXPECT_TRUE(runtime_->invokeMenu("&Options"));
  EXPECT_TRUE(runtime_->invokeMenu("&Run"));
  EXPECT_EQ(runtime_->screen().size(), 1u);
  EXPECT_EQ(state_.problems.size(), 1u);
  ::setrlimit(RLIMIT_FSIZE, &saved);
}

TEST_F(ShellTest, ExitAndRun) {
  int runs = 0;
  shell_->setRunCommand([&runs] { ++runs; });
  EXPECT_TRUE(runtime_->invokeMenu("&Run"));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(runtime_->invokeMenu("E&xit"));
  EXPECT_EQ(runtime_->stopMessage(), "Program terminated. See output files...");
}

TEST_F(ShellTest, PictureNamesOverThirtyOneCaptures) {
  platform::headless::RecordingCanvas* canvas = nullptr;
  shell_.reset();
  runtime_ = std::make_unique<platform::headless::HeadlessRuntime>(dir_, [&canvas] {
    auto c = std::make_unique<platform::headless::RecordingCanvas>();
    canvas = c.get();
    return c;
  });
  shell_ = std::make_unique<Shell>(*runtime_, state_);
  shell_->startUp();
  runtime_->openGraphics(11, "plot");

  shell_->saveCapture(true);  // captures off: nothing changes
  shell_->saveCapture(false);
  EXPECT_EQ(state_.captureCounter, 0);
  state_.options.ScreenCaptures = true;
  shell_->saveCapture(true);
  EXPECT_EQ(state_.captureCounter, 64);
  for (int i = 1; i <= 31; ++i) {
    canvas->saveImageResult = i == 3 ? -1 : 0;  // the third save fails
    shell_->saveCapture(false);
  }
  std::vector<std::string> saved;
  for (const auto& call : canvas->calls()) {
    EXPECT_EQ(call.args, (std::vector<double>{0, 0, 799, 599}));
    saved.push_back(std::filesystem::path(call.text).filename().string());
  }
  ASSERT_EQ(saved.size(), 31u);
  EXPECT_EQ(saved[0], "pic_A.bmp");
  EXPECT_EQ(saved[27], "pic_\\.bmp");
  EXPECT_EQ(saved[28], "pic_].bmp");
  EXPECT_EQ(saved[29], "pic_@.bmp");
  EXPECT_EQ(saved[30], "pic_A.bmp");
  const std::string log = logText();
  EXPECT_EQ(log.substr(0, 46), "pic_A.bmp file is done\npic_B.bmp file is done\n");
  // The failed save is said on screen and log and kept as a problem.
  EXPECT_EQ(log.substr(46, 30), " pic_C.bmp could not be saved\n");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 31);
  EXPECT_EQ(state_.problems, (std::vector<std::string>{"pic_C.bmp could not be saved"}));

  // Turned off, a reset keeps the counter; on again, a run starts at A.
  state_.options.ScreenCaptures = false;
  shell_->saveCapture(true);
  EXPECT_EQ(state_.captureCounter, 'A');
  state_.options.ScreenCaptures = true;
  shell_->saveCapture(true);
  shell_->saveCapture(false);
  EXPECT_EQ(std::filesystem::path(canvas->calls().back().text).filename(), "pic_A.bmp");
}

}  // namespace
}  // namespace tavel::app::testing
