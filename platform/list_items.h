// SPDX-License-Identifier: GPL-3.0-or-later
// The items of a list box as the program sees them, shared by both dialog
// realisations so they keep the same contract: while the program changes a
// list, positions and selection flags stay where they were; refresh() then
// re-sorts a sorted list and clears its selection, as the user sees it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavel::platform {

struct ListItems {
  std::vector<std::string> items;  // in displayed order once refreshed
  std::vector<bool> selected;
  bool dirty = false;

  int count() const { return static_cast<int>(items.size()); }
  // Position (1-based) of the rank-th selected item; 0 when there is none.
  int selectedPosition(int rank) const;
  // Adds empty items or drops items at the end.
  void resize(int n);
  // Item at a 1-based position; empty outside the list.
  std::string text(int position) const;
  void setText(int position, std::string_view text);
  // Ends a change: re-sorts (when sorted) and clears the selection. True
  // when the list had changed.
  bool refresh(bool sorted);
};

}  // namespace tavel::platform
