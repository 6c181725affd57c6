// SPDX-License-Identifier: GPL-3.0-or-later
// What the scan of a data file yields, and the units the readers and the
// trace lines use. Storage is 0-based; the 1-based variable numbers of the
// documented behaviour map to index - 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/column_kinds.h"

namespace tavel::io {

inline constexpr int kNameLength = 50;
// The "open" trace pads a shorter path to this width, as the log always had it.
inline constexpr int kFileNameLength = 100;
inline constexpr int kMaxNames = 64;  // names taken from a header line

// Unit numbers: the data file stays open on kDataUnit from its scan to the
// next one; every trace line that goes to the log goes to kLogUnit.
inline constexpr int kDataUnit = 1;
inline constexpr int kLogUnit = 2;
inline constexpr std::string_view kLogFileName = "Tavel.log";  // on kLogUnit

struct DataTable {
  std::string dataFileName;          // as chosen, the whole path
  int numCol1 = 0;                   // file columns (names in the header), at most 64
  int numCol = 0;                    // numCol1 plus one log variable per all-positive column
  int nRows = 0;                     // rows read successfully
  std::vector<std::string> colName;  // colName[v-1]: 50 characters, blank padded
  std::vector<int> lnSource;         // lnSource[v-1]: source file column of log variable v
  std::vector<bool> allPositive;     // allPositive[j-1] per file column
  // The values an empty field or a slash keeps in the file's first row
  // (numCol1 zeros: every pass over a file starts from zeros, never from a
  // row of an earlier file). A later pass over the same file starts its row
  // buffer from these so it reads exactly the rows the scan read.
  std::vector<double> rowCarryIn;
  // 0: the file is read in free form; ',', ';' or '\t': read as CSV with
  // that separator (';' with decimal commas), by the scan and the Run alike.
  char csvSeparator = 0;
  // The worksheet read when the data file is a workbook (read as CSV with
  // ','); empty for a text file.
  std::string sheetName;
  // Per column of the file (the header's names, and a first column of row
  // names): what it holds. The table's columns 1..numCol1 are the columns
  // that are not skipped, in file order.
  std::vector<ColumnKind> cellKind;
  // Per column of the file: a category's labels in their sorted order; label
  // k (0-based) is read as the number k + 1.
  std::vector<std::vector<std::string>> cellLabels;
};

// The kind of variable number v (1-based): a log variable is a number.
ColumnKind columnKind(const DataTable& data, int v);
// The labels of variable number v when it is a category (else empty).
const std::vector<std::string>& categoryLabels(const DataTable& data, int v);
// The plan by which the Run and Predict New Data read the rows the scan read.
CellPlan readingPlan(const DataTable& data);

}  // namespace tavel::io
