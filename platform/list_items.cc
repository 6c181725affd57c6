// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/list_items.h"

#include <algorithm>

#include "platform/list_order.h"

namespace tavel::platform {

int ListItems::selectedPosition(int rank) const {
  if (rank < 1) return 0;
  int seen = 0;
  for (std::size_t i = 0; i < selected.size(); ++i)
    if (selected[i] && ++seen == rank) return static_cast<int>(i) + 1;
  return 0;
}

void ListItems::resize(int n) {
  const std::size_t size = static_cast<std::size_t>(std::max(0, n));
  items.resize(size);
  selected.resize(size, false);
  dirty = true;
}

std::string ListItems::text(int position) const {
  if (position < 1 || position > count()) return {};
  return items[static_cast<std::size_t>(position - 1)];
}

void ListItems::setText(int position, std::string_view text) {
  if (position < 1 || position > count()) return;
  items[static_cast<std::size_t>(position - 1)] = std::string(text);
  dirty = true;
}

bool ListItems::refresh(bool sorted) {
  if (!dirty) return false;
  dirty = false;
  if (sorted) {
    std::stable_sort(items.begin(), items.end(),
                     [](const std::string& a, const std::string& b) { return listItemLess(a, b); });
  }
  std::fill(selected.begin(), selected.end(), false);
  return true;
}

}  // namespace tavel::platform
