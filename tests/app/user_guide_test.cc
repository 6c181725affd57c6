// SPDX-License-Identifier: GPL-3.0-or-later
// The Help window's guide is the README's user section, and it covers what a
// first-time user needs: every flag, every setting, the model commands and
// every file the program writes.
#include "app/user_guide.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace tavel::app {
namespace {

TEST(UserGuideTest, IsTheReadmesUserSectionAndCoversEveryTopic) {
  std::ifstream in(TAVEL_README_PATH, std::ios::binary);
  ASSERT_TRUE(in) << TAVEL_README_PATH;
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  const std::string heading = "\n## Using the program\n";
  const std::size_t start = readme.find(heading);
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = readme.find("\n## ", start + heading.size());
  const std::string section = readme.substr(
      start + heading.size(), end == std::string::npos ? end : end + 1 - start - heading.size());
  EXPECT_EQ(userGuide(), "# Using the program\n" + section);

  const std::string guide(userGuide());
  for (const char* topic :
       {"Input Dat File",   "Prepare",         "Run",         "Orderable",   "Circular",
        "Monotone Tr",      "Linear Tr",       "Unorderable", "NumTerm",     "DelRsq",
        "Equilibration",    "Screen Captures", "CV folds",    "Save Model",  "Open Model",
        "Predict New Data", "Tavel.log",       "Taveltr.xls", "Tavelcr.xls", "Tavelpr.xls",
        "pic_A.bmp",        "tavel-batch",     "Tabbed View"})
    EXPECT_NE(guide.find(topic), std::string::npos) << topic;
}

}  // namespace
}  // namespace tavel::app
