// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch with models: --cv and --save-model after a fit, --model with
// --predict on its own, and the exit status of each refusal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/qt/qt_test_support.h"

namespace {

namespace fs = std::filesystem;

using Outcome = tavel::qt_test::CommandResult;  // out: standard output and error together

Outcome batch(const std::string& args) {
  return tavel::qt_test::runCommand(std::string(TAVEL_BATCH_PATH) + " " + args + " 2>&1");
}

TEST(TavelBatchModel, FitSaveAndPredictWithExitStatuses) {
  const fs::path dir = fs::path(tavel::qt_test::tempDir().toStdString()) / "batch_model";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string example = TAVEL_EXAMPLE_PATH;
  const std::string model = (dir / "rates.json").string();
  const std::string fit = "--dep _ln_RATE --indep T --indep P --flag T=monotone --outdir " +
                          (dir / "fit").string() + " ";

  const Outcome fitted = batch(fit + "--cv 5 --save-model " + model + " " + example);
  ASSERT_EQ(fitted.status, 0) << fitted.out;
  EXPECT_NE(fitted.out.find(" CROSS-VALIDATED SQUARED CORRELATION (5 FOLDS) ="), std::string::npos);
  EXPECT_NE(fitted.out.find(" CV on the response scale, exponentiated: R^2 = 1 - SSE/SST = "),
            std::string::npos);
  EXPECT_TRUE(fs::exists(model));
  std::ifstream saved(model);
  const std::string json((std::istreambuf_iterator<char>(saved)), {});
  EXPECT_NE(json.find("\"response_scale\": \"exponentiated\""), std::string::npos);

  const Outcome predicted =
      batch("--model " + model + " --predict " + example + " --outdir " + (dir / "pr").string());
  EXPECT_EQ(predicted.status, 0) << predicted.out;
  EXPECT_TRUE(fs::exists(dir / "pr" / "Tavelpr.xls"));

  // Refusals: a data file that is no model, a missing data file, too many
  // folds for the rows, --cv out of its range, --model alone.
  EXPECT_EQ(batch("--model " + example + " --predict " + example).status, 1);
  EXPECT_EQ(batch("--model " + model + " --predict " + (dir / "none.dat").string()).status, 1);
  const Outcome tooMany = batch(fit + "--cv 500 " + example);
  EXPECT_EQ(tooMany.status, 1);
  EXPECT_NE(tooMany.out.find("from 2 to 200 folds"), std::string::npos) << tooMany.out;
  EXPECT_EQ(batch(fit + "--cv 1 " + example).status, 2);
  EXPECT_EQ(batch("--model " + model).status, 2);
}

}  // namespace
