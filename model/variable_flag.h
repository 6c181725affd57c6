// SPDX-License-Identifier: GPL-3.0-or-later
// How a variable may be transformed: the one type the records, the dialogs,
// the model and tavel-batch share. The engine keeps its integer codes 1..5
// at its boundary; engineCode and flagFromCode cross it.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tavel::model {

enum class VarFlag : int { Orderable = 1, Circular = 2, Monotone = 3, Linear = 4, Unorderable = 5 };

inline constexpr std::array<VarFlag, 5> kAllFlags = {VarFlag::Orderable, VarFlag::Circular,
                                                     VarFlag::Monotone, VarFlag::Linear,
                                                     VarFlag::Unorderable};

constexpr int engineCode(VarFlag flag) { return static_cast<int>(flag); }

// The flag of an engine code, or nothing for a code outside 1..5.
constexpr std::optional<VarFlag> flagFromCode(int code) {
  if (code < engineCode(VarFlag::Orderable) || code > engineCode(VarFlag::Unorderable))
    return std::nullopt;
  return static_cast<VarFlag>(code);
}

// The name tavel-batch and the model file use: "orderable" .. "unorderable".
constexpr std::string_view flagName(VarFlag flag) {
  constexpr std::array<std::string_view, 5> names = {"orderable", "circular", "monotone", "linear",
                                                     "unorderable"};
  return names[static_cast<std::size_t>(engineCode(flag) - 1)];
}

// A flag given by its name or by its code ("monotone" or "3").
constexpr std::optional<VarFlag> parseFlag(std::string_view text) {
  for (VarFlag f : kAllFlags)
    if (text == flagName(f)) return f;
  if (text.size() == 1) return flagFromCode(text[0] - '0');
  return std::nullopt;
}

}  // namespace tavel::model
