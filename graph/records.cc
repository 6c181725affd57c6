// SPDX-License-Identifier: GPL-3.0-or-later
#include "graph/records.h"

namespace tavel::graph {

std::string paddedText(std::string_view text, int length) {
  std::string out(text.substr(0, static_cast<size_t>(length < 0 ? 0 : length)));
  out.resize(static_cast<size_t>(length < 0 ? 0 : length), ' ');
  return out;
}

}  // namespace tavel::graph
