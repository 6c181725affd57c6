// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/list_order.h"

#include <algorithm>

namespace tavel::platform {
namespace {
unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }
}  // namespace

bool listItemLess(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char ca = lower(static_cast<unsigned char>(a[i]));
    const unsigned char cb = lower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace tavel::platform
