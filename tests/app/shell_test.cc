#include "app/shell.h"

#include <filesystem>
#include <fstream>

#include "app_test_support.h"
#include "platform/canvas.h"

namespace tavel::app::testing {
namespace {

using platform::BuiltinAction;

TEST(ShellMenus, TenEntriesInTableOrder) {
  platform::headless::HeadlessRuntime runtime;
  AppState state;
  Shell shell(runtime, state);
  ASSERT_TRUE(shell.buildMenus());
  struct Expected {
    int menu;
    const char* text;
    bool command;
    BuiltinAction action;
  };
  const Expected expected[] = {
      {1, "&File", false, BuiltinAction::None},
      {1, "&Input Dat File...", true, BuiltinAction::None},
      {1, "E&xit", true, BuiltinAction::None},
      {2, "&Prepare", true, BuiltinAction::None},
      {3, "&Options", true, BuiltinAction::None},
      {4, "&Run", true, BuiltinAction::None},
      {5, "&Windows...", false, BuiltinAction::None},
      {5, "&Cascade", false, BuiltinAction::Cascade},
      {5, "&Full screen", false, BuiltinAction::FullScreen},
      {5, "&About...", false, BuiltinAction::About},
  };
  const auto& menus = runtime.menus();
  ASSERT_EQ(menus.size(), 10u);
  for (std::size_t i = 0; i < menus.size(); ++i) {
    SCOPED_TRACE(expected[i].text);
    EXPECT_EQ(menus[i].menu, expected[i].menu);
    EXPECT_EQ(menus[i].text, expected[i].text);
    EXPECT_TRUE(menus[i].enabled);
    EXPECT_EQ(static_cast<bool>(menus[i].callback), expected[i].command);
    EXPECT_EQ(menus[i].action, expected[i].action);
  }
}

TEST(ShellMenus, StopsAtTheFirstFailingAppend) {
  platform::headless::HeadlessRuntime runtime;
  AppState state;
  Shell shell(runtime, state);
  runtime.failMenuAppendAt(4);
  EXPECT_FALSE(shell.buildMenus());
  EXPECT_EQ(runtime.menus().size(), 3u);
}

class ShellTest : public AppTest {};

TEST_F(ShellTest, StartUp) {
  // The fixture has started the shell in its folder already; start again
  // with old pictures and an old log in place.
  for (const char* name :
       {"pic_A.bmp", "pic_.bmp", "pic_old picture.bmp", "pic_A.txt", "apic_B.bmp"})
    writeFile(name, "x");
  runtime_->close(kLogUnit);
  writeFile("Tavel.log", "earlier run\n");
  shell_->startUp();

  EXPECT_FALSE(exists("pic_A.bmp"));
  EXPECT_FALSE(exists("pic_.bmp"));
  EXPECT_FALSE(exists("pic_old picture.bmp"));
  EXPECT_TRUE(exists("pic_A.txt"));
  EXPECT_TRUE(exists("apic_B.bmp"));

  const std::string& about = runtime_->aboutText();
  EXPECT_EQ(about.substr(0, 7), "TAVEL\r\r");
  EXPECT_EQ(std::count(about.begin(), about.end(), '\r'), 3);
  EXPECT_EQ(about.substr(about.rfind('\r')), "\rVersion 1.0 beta");

  // The output window fills the frame.
  platform::Geometry frame, output;
  ASSERT_TRUE(runtime_->getGeometry(platform::kFrameUnit, frame));
  ASSERT_TRUE(runtime_->getGeometry(platform::kScreenUnit, output));
  EXPECT_EQ(output.width, frame.width);
  EXPECT_EQ(output.height, frame.height);

  // The log keeps its content until the first line replaces it.
  EXPECT_EQ(logText(), "earlier run\n");
  writeFile("a.dat", "A\n");
  scan("a.dat");
  EXPECT_EQ(logText(), " open a.dat" + std::string(95, ' ') + "\n");
}

TEST_F(ShellTest, LogThatCannotBeOpened) {
  runtime_->close(kLogUnit);
  std::filesystem::remove(path("Tavel.log"));
  std::filesystem::create_directory(path("Tavel.log"));
  runtime_->clearFocusedWindow();
  shell_->startUp();
  ASSERT_EQ(runtime_->screen().size(), 1u);
  EXPECT_NE(runtime_->screen()[0].find("Tavel.log"), std::string::npos);
  // The program runs on, tracing to the screen.
  writeFile("ab.dat", "A B\n1 2\n");
  scan("ab.dat");
  EXPECT_EQ(state_.data.nRows, 1);
}

TEST_F(ShellTest, ExitAndRun) {
  int runs = 0;
  shell_->setRunCommand([&runs] { ++runs; });
  EXPECT_TRUE(runtime_->invokeMenu("&Run"));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(runtime_->invokeMenu("E&xit"));
  EXPECT_EQ(runtime_->stopMessage(), "Program terminated. See output files...");
}

// A canvas whose picture saving succeeds, or fails for chosen names.
class SavingCanvas : public platform::Canvas {
 public:
  explicit SavingCanvas(std::vector<std::string>* saved) : saved_(saved) {}
  bool getWindowConfig(platform::WindowConfig& c) override {
    c = {800, 600};
    return true;
  }
  bool setWindowConfigMaximum() override { return true; }
  void clearWindow() override {}
  int saveImage(const std::string& path, int x1, int y1, int x2, int y2) override {
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 0);
    EXPECT_EQ(x2, 799);
    EXPECT_EQ(y2, 599);
    const std::string name = std::filesystem::path(path).filename().string();
    if (name == "pic_C.bmp") return -1;
    saved_->push_back(name);
    return 0;
  }
  int setColour(int) override { return 0; }
  void setLineStyle(std::uint16_t) override {}
  void setFillMask(const platform::FillMask&) override {}
  void setSolidFill() override {}
  void setViewport(int, int, int, int) override {}
  void clearViewport() override {}
  void setWorldWindow(double, double, double, double, bool) override {}
  void rectanglePixel(int, int, int, int, int) override {}
  void rectangleWorld(int, double, double, double, double) override {}
  void ellipseWorld(int, double, double, double, double) override {}
  void polygonWorld(int, const double*, int) override {}
  void moveToWorld(double, double) override {}
  void lineToWorld(double, double) override {}
  void moveToPixel(int, int) override {}
  void getPositionPixel(int& x, int& y) override { x = y = 0; }
  int initFonts() override { return 1; }
  int setFont(std::string_view) override { return 1; }
  platform::FontInfo fontInfo() override { return {16, 8, 1}; }
  int textExtent(std::string_view) override { return 0; }
  void outText(std::string_view) override {}
  void setTextRotation(int) override {}
  int graphicsStatus() override { return 0; }

 private:
  std::vector<std::string>* saved_;
};

class CaptureTest : public AppTest {
 protected:
  CaptureTest() {
    // A runtime whose graphics windows save pictures.
    shell_.reset();
    runtime_ = std::make_unique<platform::headless::HeadlessRuntime>(
        dir_, [this] { return std::make_unique<SavingCanvas>(&saved_); });
    shell_ = std::make_unique<Shell>(*runtime_, state_);
    shell_->startUp();
    runtime_->openGraphics(11, "plot");
  }
  std::vector<std::string> saved_;
};

TEST_F(CaptureTest, NamesOverThirtyOneCaptures) {
  state_.options.ScreenCaptures = true;
  shell_->saveCapture(true);
  EXPECT_EQ(state_.captureCounter, 64);
  for (int i = 0; i < 31; ++i) shell_->saveCapture(false);
  ASSERT_EQ(saved_.size(), 30u);  // pic_C.bmp failed
  EXPECT_EQ(saved_[0], "pic_A.bmp");
  EXPECT_EQ(saved_[1], "pic_B.bmp");
  EXPECT_EQ(saved_[2], "pic_D.bmp");
  EXPECT_EQ(saved_[26], "pic_\\.bmp");  // the 28th picture
  EXPECT_EQ(saved_[27], "pic_].bmp");
  EXPECT_EQ(saved_[28], "pic_@.bmp");
  EXPECT_EQ(saved_[29], "pic_A.bmp");  // the 31st overwrites the first
  EXPECT_EQ(state_.captureCounter, 'A');
  // One log line per saved picture, none for the failed one.
  const std::string log = logText();
  EXPECT_EQ(log.substr(0, 46), "pic_A.bmp file is done\npic_B.bmp file is done\n");
  EXPECT_EQ(log.find("pic_C"), std::string::npos);
  EXPECT_NE(log.find("\npic_D.bmp file is done\n"), std::string::npos);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 30);
  EXPECT_TRUE(runtime_->screen().empty());
}

TEST_F(CaptureTest, CapturesOffChangeNothing) {
  shell_->saveCapture(true);
  shell_->saveCapture(false);
  EXPECT_EQ(state_.captureCounter, 0);
  state_.options.ScreenCaptures = true;
  shell_->saveCapture(true);
  shell_->saveCapture(false);
  shell_->saveCapture(false);
  state_.options.ScreenCaptures = false;
  shell_->saveCapture(true);
  shell_->saveCapture(false);
  EXPECT_EQ(state_.captureCounter, 'B');
  // Turned on again, the next run starts from pic_A.bmp.
  state_.options.ScreenCaptures = true;
  shell_->saveCapture(true);
  shell_->saveCapture(false);
  EXPECT_EQ(saved_, (std::vector<std::string>{"pic_A.bmp", "pic_B.bmp", "pic_A.bmp"}));
}

}  // namespace
}  // namespace tavel::app::testing
