// SPDX-License-Identifier: GPL-3.0-or-later
// Inversion tables: the distinct raw values of a variable (ascending) beside
// their transformed values, read backwards by piecewise-linear interpolation.
// The Run inverts the response's transformation with them, equilibration
// every variable's, and a kept model the response's for new data.
#pragma once

#include <functional>
#include <string_view>

namespace tavel::model {

using LineSink = std::function<void(std::string_view line)>;

// The start value of the "previous raw value" while a table is built: the
// single-precision value of 1.0e12. A smallest raw value equal to it is not
// entered into the table.
inline constexpr double kTableStartValue = 999999995904.0;

// Written when a table cannot be inverted (fewer than two entries, or equal
// first and last entries).
inline constexpr std::string_view kDegenerateTableLine = " last = first, sorry";

// An inversion table of `size` entries: raw[k] ascending and distinct,
// transformed[k] the transformed value of raw[k]. Both point into
// caller-owned storage of at least n entries (the two columns of invTable).
struct InvTable {
  double* raw = nullptr;
  double* transformed = nullptr;
  int size = 0;
};

// Fills the table from one variable of n observations: order[r] is the
// observation number (1-based) of the r-th smallest raw value. Of several
// observations with the same raw value the first in the order supplies the
// transformed value. Returns the number of entries K <= n. Order entries
// outside 1..n (an engine that stopped before sorting) are passed over, so
// the table never reads outside the arrays.
int buildInvTable(int n, const int* order, const double* raw, const double* transformed,
                  InvTable& table);

// Inverts t through the first n entries of (a, b): finds the interval of b
// holding t, searching outwards from a guess, and interpolates a linearly.
// Values beyond the ends are extrapolated along the first or last interval;
// on a flat step the step's first-reached raw value is taken. Leaves result
// unchanged when the table is degenerate (writing kDegenerateTableLine) or
// when no interval holds t (a table that is not monotone).
//
// monotone: the caller has checked (isMonotoneTable) that b never turns back.
// The intervals holding t then form one run, found by bisection, and the
// interval the outward search would reach first is picked from that run:
// the same result, in logarithmic instead of linear time.
void interpolateTable(int n, const double* a, const double* b, double t, double& result,
                      const LineSink& sink, bool monotone = false);

// True when b[0..n-1] is non-decreasing or non-increasing as a whole.
bool isMonotoneTable(int n, const double* b);

}  // namespace tavel::model
