// SPDX-License-Identifier: GPL-3.0-or-later
// The one line every menu command leaves in the status bar, and the plot
// windows of earlier data closed when another file is chosen.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/records.h"
#include "run_session_support.h"

namespace tavel::run::testing {
namespace {

std::string lastStatus(const Session& s) {
  const auto& lines = s.runtime.statusLines();
  return lines.empty() ? std::string() : lines.back();
}

// y = x1 + x2 on 30 rows: every variable monotone in the data.
std::string additiveFile() {
  std::string text = "X1 X2 Y\n";
  for (int i = 1; i <= 30; ++i) {
    const int x1 = i, x2 = (i * 7) % 11;
    text += std::to_string(x1) + " " + std::to_string(x2) + " " + std::to_string(x1 + x2) + "\n";
  }
  return text;
}

TEST(CommandStatusTest, CommandsThatCannotActSayWhatToDoFirst) {
  Session s;
  s.runtime.invokeMenu("&Run");
  EXPECT_EQ(lastStatus(s), "Run refused: load a data file first: File / Input Dat File...");
  s.runtime.invokeMenu("&Prepare");
  EXPECT_EQ(lastStatus(s), "Prepare refused: load a data file first: File / Input Dat File...");
  s.runtime.invokeMenu("&Options");
  EXPECT_EQ(lastStatus(s), "Options refused: load a data file first: File / Input Dat File...");

  // A file of names only: said when it is read, and by the commands after it.
  s.writeFile("names.dat", "A B\n");
  s.runtime.queueFileChoice(s.path("names.dat").string());
  s.runtime.invokeMenu("&Input Dat File...");
  EXPECT_EQ(s.runtime.documentName(), "names.dat");
  EXPECT_EQ(lastStatus(s),
            "names.dat has no usable data rows (the output window says why): choose another file "
            "(File / Input Dat File...)");
  s.runtime.invokeMenu("&Run");
  EXPECT_EQ(lastStatus(s),
            "Run refused: names.dat has no data rows: load another data file (File / Input Dat "
            "File...)");
  // The log keeps its documented lines only.
  EXPECT_EQ(fileText(s.path("Tavel.log")).find("refused"), std::string::npos);

  s.runtime.queueFileChoice(std::nullopt);
  s.runtime.invokeMenu("&Input Dat File...");
  EXPECT_EQ(lastStatus(s), "Input Dat File cancelled: nothing changed");
}

TEST(CommandStatusTest, RunSaysWhatItDidAndWhatItDidNot) {
  Session s;
  s.writeFile("add.dat", additiveFile());
  s.input("add.dat", {"X1", "X2", "Y"}, "Y");
  // X2 holds zeros: only X1 and Y get a log variable.
  EXPECT_EQ(lastStatus(s), "Read add.dat: 30 rows, 5 variables");
  s.options({}, true);  // equilibration asked for, X1 and X2 left Orderable
  s.run();
  const std::string line = lastStatus(s);
  ASSERT_EQ(line.rfind("Run done in ", 0), 0u) << line;
  // Two independents and the dependent, the correlation, the prediction.
  EXPECT_NE(line.find(" s: r**2 = 1.0000, 5 plots, Taveltr.xls written in " + s.dir().string() +
                      "; equilibration not done: it needs every variable Monotone Tr, and X1, "
                      "X2 are not"),
            std::string::npos)
      << line;
  ASSERT_EQ(s.runtime.graphicsWindows().size(), 5u);

  // Another file: the plots of the earlier one go before it is read.
  s.writeFile("other.dat", additiveFile());
  s.input("other.dat", {"X1", "Y"}, "Y");
  EXPECT_TRUE(s.runtime.graphicsWindows().empty());
  EXPECT_EQ(s.state.firstPlotUnit, 0);
  EXPECT_EQ(s.runtime.documentName(), "other.dat");
}

TEST(CommandStatusTest, RunWithoutAChoiceOfVariables) {
  Session s;
  s.writeFile("add.dat", additiveFile());
  s.input("add.dat", {"X1"}, "X1");  // one variable: no analysis
  s.runtime.invokeMenu("&Run");
  EXPECT_EQ(lastStatus(s), "Run refused: choose the variables first: Prepare");
}

}  // namespace
}  // namespace tavel::run::testing
