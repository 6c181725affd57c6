// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch's options in one table: the command line is read by
// getopt_long from it, and --help, the manual page's OPTIONS section and the
// README's usage block are made from it (tests/package/check_batch_docs.sh
// fails when the page or the README differ from what it makes).
//
//   for (const OptionSpec& o : batchOptions()) ...   // "--dep", "NAME", ...
//   std::string help = batchHelpText();              // "usage: tavel-batch ..."
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavel::batch {

struct OptionSpec {
  std::string_view name;            // the long name without "--"
  char shortName = 0;               // a one-letter name, or 0
  std::string_view argument;        // the argument's name in the help; empty for a switch
  std::string help;                 // the --help text, one paragraph
  std::string manual;               // the manual page's text of the entry (roff)
  std::string_view manualTag = {};  // the entry's roff tag when the usual one does not fit
};

// Every option, in the order --help and the manual page list them.
const std::vector<OptionSpec>& batchOptions();

// The --help text: the two usage lines, then one entry per option, its
// text wrapped to 80 columns.
std::string batchHelpText();

// The manual page's OPTIONS section, from ".SH OPTIONS" to the line before
// the next section.
std::string batchManualOptions();

}  // namespace tavel::batch
