// SPDX-License-Identifier: GPL-3.0-or-later
// Prints what tavel-batch's option table makes for its documents:
//   batch_docs help     the --help text (README's usage block)
//   batch_docs manual   the manual page's OPTIONS section
#include <cstdio>
#include <string>
#include <string_view>

#include "batch/batch_options.h"

int main(int argc, char** argv) {
  const std::string_view what = argc == 2 ? argv[1] : "";
  std::string text;
  if (what == "help") {
    text = tavel::batch::batchHelpText();
  } else if (what == "manual") {
    text = tavel::batch::batchManualOptions();
  } else {
    std::fputs("usage: batch_docs help|manual\n", stderr);
    return 2;
  }
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
}
