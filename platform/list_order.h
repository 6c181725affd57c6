// SPDX-License-Identifier: GPL-3.0-or-later
// The order in which sorted list boxes show their items: case-insensitive
// (ASCII), then by bytes, so both runtimes show the same list.
#pragma once

#include <string_view>

namespace tavel::platform {

bool listItemLess(std::string_view a, std::string_view b);

}  // namespace tavel::platform
