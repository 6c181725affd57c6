// SPDX-License-Identifier: GPL-3.0-or-later
#include "io_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tavel::io::testing {

IoTest::IoTest() {
  std::string templ = (std::filesystem::temp_directory_path() / "tavel_io_XXXXXX").string();
  dir_ = ::mkdtemp(templ.data());
  runtime_ = std::make_unique<platform::headless::HeadlessRuntime>(dir_);
}

IoTest::~IoTest() {
  runtime_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string IoTest::path(std::string_view name) const { return dir_ + "/" + std::string(name); }

void IoTest::writeFile(std::string_view name, std::string_view content) const {
  std::ofstream out(path(name), std::ios::binary);
  out << content;
}

}  // namespace tavel::io::testing
