// SPDX-License-Identifier: GPL-3.0-or-later
// A plot window draws its graph at its own size: text keeps the pixel height
// it has in the 800 x 600 picture that captures and "Save Picture As" write.
#include <gtest/gtest.h>

#include <QImage>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <optional>
#include <vector>

#include "app/records.h"
#include "app/shell.h"
#include "platform/qt/graphics_view.h"
#include "platform/qt/qt_runtime.h"
#include "run/result_plots.h"
#include "tests/qt/qt_test_support.h"

namespace tavel::platform::qt {
namespace {

// Rows, from the top, holding a pixel of the title's colour (palette 1) in
// the middle third of the picture, above the plot area; the first run of
// such rows is the title's ink, from its capitals to its descenders.
int titleInkHeight(const QImage& picture) {
  const QRgb title = paletteColour(1).rgb();
  const int plotTop = picture.height() * 1248 / 7680;  // world y of the plot frame
  int first = -1, last = -1;
  for (int y = 2; y < plotTop - 2; ++y) {
    bool ink = false;
    for (int x = picture.width() / 3; x < picture.width() * 2 / 3 && !ink; ++x)
      ink = picture.pixel(x, y) == title;
    if (ink && first < 0) first = y;
    if (ink) last = y;
    if (!ink && first >= 0) break;
  }
  return first < 0 ? 0 : last - first + 1;
}

TEST(PlotWindowSizeTest, AResizedPlotWindowDrawsTextAtThePixelHeightOfTheSavedPicture) {
  qt_test::app();
  QtRuntime runtime;
  runtime.setExitHandler([](int) {});
  ASSERT_TRUE(runtime.createFrame({}));
  runtime.frame()->resize(1200, 900);
  app::AppState state;
  app::Shell shell(runtime, state);
  run::PlotContext context{runtime, shell, state, {}};
  ASSERT_TRUE(run::openPlotWindow(context, 11, "plot"));
  const std::vector<double> x = {1, 2, 3, 4, 5}, y = {1.2, 1.9, 3.1, 4.2, 4.8};
  ASSERT_TRUE(run::plotResult(context, 5, "Optimal Correlation", "subtitle", "Sum[Transf_x]",
                              "Y_Trans", x.data(), y.data(), true, 1.0, 0.0));
  GraphicsView* view = runtime.graphicsView(11);
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->hasRedraw());
  const QImage saved = runtime.canvasOf(11)->image().copy();
  ASSERT_EQ(saved.size(), QSize(800, 600));
  const int savedHeight = titleInkHeight(saved);
  ASSERT_GT(savedHeight, 10);  // font 3 is 26 pixels high

  for (const QSize inside : {QSize(520, 390), QSize(1000, 500)}) {
    QMdiSubWindow* window = runtime.graphicsWindow(11);
    window->resize(inside + (window->size() - view->size()));
    ASSERT_EQ(view->size(), inside);
    const QImage own = view->drawAtOwnSize();
    EXPECT_EQ(own.size(), inside);  // drawn at the window's size, not scaled
    EXPECT_EQ(titleInkHeight(own), savedHeight) << inside.width();
  }
  // The picture saved is still the 800 x 600 one, unchanged.
  EXPECT_EQ(runtime.canvasOf(11)->image(), saved);
}

}  // namespace
}  // namespace tavel::platform::qt
