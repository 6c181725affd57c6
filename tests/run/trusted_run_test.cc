// SPDX-License-Identifier: GPL-3.0-or-later
// The Run's guards for a fit that can be trusted, as the GUI meets them:
// a dependent among its own predictors on another scale, and a Circular
// variable whose values cannot be periodic.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run/run_command.h"
#include "tests/run/run_session_support.h"

namespace tavel::run {
namespace {

using testing::fileLines;
using testing::Session;
using Lines = std::vector<std::string>;

int countLines(const Lines& lines, const std::string& part) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(part) != std::string::npos;
  }));
}

const char* const kPositive =
    "A B Y\n"
    "1 3 5.1\n2 1 6.9\n3 4 11.2\n4 1 9.1\n5 5 15.3\n6 2 13.8\n7 6 19.1\n8 3 17.2\n";

TEST(TrustedRun, ATwinOfTheDependentAmongTheIndependentsStopsTheRunInOneLine) {
  Session s;
  s.writeFile("pos.dat", kPositive);
  s.input("pos.dat", {"A", "Y", "_ln_Y"}, "_ln_Y");
  s.run();
  const std::string line =
      " The independent variable Y is the dependent _ln_Y on another scale: the dependent "
      "cannot predict itself. Run stopped.";
  EXPECT_EQ(countLines(s.runtime.screen(), line), 1);
  EXPECT_EQ(countLines(fileLines(s.path("Tavel.log")), line), 1);
  EXPECT_EQ(s.state.problems, Lines{line.substr(1)});
  EXPECT_EQ(countLines(s.runtime.screen(), "iteration"), 0);
  EXPECT_FALSE(std::filesystem::exists(s.path("Taveltr.xls")));
  EXPECT_FALSE(s.state.model.has_value());

  // The same variables with another dependent run.
  Session t;
  t.writeFile("pos.dat", kPositive);
  t.input("pos.dat", {"A", "Y", "_ln_Y"}, "A");
  t.run();
  EXPECT_TRUE(t.state.problems.empty());
  EXPECT_TRUE(std::filesystem::exists(t.path("Taveltr.xls")));
}

}  // namespace
}  // namespace tavel::run
