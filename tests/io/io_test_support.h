// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the reader tests: a headless runtime working in a fresh
// temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "io/data_table.h"
#include "platform/headless/headless_runtime.h"

namespace tavel::io::testing {

class IoTest : public ::testing::Test {
 protected:
  IoTest();
  ~IoTest() override;

  std::string path(std::string_view name) const;
  void writeFile(std::string_view name, std::string_view content) const;

  std::string dir_;
  std::unique_ptr<platform::headless::HeadlessRuntime> runtime_;
};

}  // namespace tavel::io::testing
