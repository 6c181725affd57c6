// SPDX-License-Identifier: GPL-3.0-or-later
// The data file scan and the Run's re-read on the same bytes, read as in.dat
// (free form, or CSV when the content says so) and as in.csv in turn. The scan reads
// single-precision rows, the re-read double-precision rows with the same
// rules; both must accept the same rows, and every value of the re-read,
// rounded to single precision, must be the value the scan saw. No value may
// be a NaN; a value beyond the single-precision range is an infinity of its
// sign in the scan and a finite double in the re-read.
//
// Rounding a decimal text to double and then to single precision differs
// from rounding it to single precision at once only when the double lands
// exactly half-way between two floats; such a value is allowed to differ by
// that one step (the scan's reading is the correctly rounded one).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "app/data_file.h"
#include "app/records.h"
#include "fuzz/fuzz_check.h"
#include "io/csv_reader.h"
#include "io/file_format.h"
#include "io/free_form_reader.h"
#include "platform/headless/headless_runtime.h"

namespace {

using tavel::app::kDataUnit;
using tavel::platform::ReadResult;

const std::string& workDir() {
  static const std::string dir = [] {
    const char* shm = "/dev/shm";
    std::string pattern =
        std::string(std::filesystem::is_directory(shm) ? shm : "/tmp") + "/tavel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

std::uint32_t bitsOf(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// True when wide, rounded to float, gives narrow, or when wide is exactly
// half-way between narrow and the float it rounds to.
bool roundsTo(double wide, float narrow) {
  const float rounded = static_cast<float>(wide);
  if (bitsOf(rounded) == bitsOf(narrow)) return true;
  if (std::nextafter(narrow, rounded) != rounded) return false;
  constexpr double kMax = std::numeric_limits<float>::max();
  if (std::isinf(rounded)) {  // the half-way point above the largest float
    return std::fabs(narrow) == kMax && std::fabs(wide) == kMax + std::ldexp(1.0, 127 - 24);
  }
  return wide == (static_cast<double>(narrow) + static_cast<double>(rounded)) / 2;
}

template <typename T>
std::vector<std::vector<T>> readRows(tavel::platform::Runtime& runtime,
                                     const tavel::app::DataTable& table) {
  std::vector<std::vector<T>> rows;
  FUZZ_CHECK(runtime.rewind(kDataUnit), "the data file is not open after the scan");
  std::vector<T> row(static_cast<std::size_t>(table.numCol1));
  tavel::app::CellPlan plan = tavel::app::readingPlan(table);
  tavel::app::CellPlan* const byPlan = plan.empty() ? nullptr : &plan;
  if (table.csvSeparator != 0) {
    tavel::app::CsvReader reader(runtime, kDataUnit, table.csvSeparator);
    reader.setPlan(byPlan);
    std::vector<std::string> names;
    if (!reader.readHeader(names, 0)) return rows;
    while (reader.nextRow(std::span<T>(row))) rows.push_back(row);
    return rows;
  }
  tavel::app::FreeFormReader reader(runtime, kDataUnit);
  reader.setPlan(byPlan);
  if (reader.discardRecord() != ReadResult::Success) return rows;
  for (std::size_t j = 0; j < row.size() && j < table.rowCarryIn.size(); ++j)
    row[j] = static_cast<T>(table.rowCarryIn[j]);
  while (reader.nextRow(std::span<T>(row))) rows.push_back(row);
  return rows;
}

void checkScan(const std::uint8_t* data, std::size_t size, bool csv) {
  const std::string name = csv ? "in.csv" : "in.dat";
  writeFile(workDir() + "/" + name, data, size);

  tavel::platform::headless::HeadlessRuntime runtime(workDir());
  tavel::app::AppState state;
  tavel::app::readDataFile(runtime, state, name);
  const tavel::app::DataTable& t = state.data;

  // The table describes itself consistently.
  FUZZ_CHECK(t.numCol1 >= 0 && t.numCol1 <= tavel::app::kMaxNames, "numCol1 %d", t.numCol1);
  FUZZ_CHECK(static_cast<int>(t.colName.size()) == t.numCol, "%zu names for numCol %d",
             t.colName.size(), t.numCol);
  int logs = 0;
  // Every all-positive column but a category (whose numbers only name
  // labels) has its log variable.
  for (int j = 0; j < t.numCol1; ++j)
    logs += t.allPositive[j] && tavel::app::columnKind(t, j + 1) != tavel::app::ColumnKind::Category
                ? 1
                : 0;
  FUZZ_CHECK(t.numCol == t.numCol1 + logs, "numCol %d, numCol1 %d, %d positive columns", t.numCol,
             t.numCol1, logs);
  for (int v = 1; v <= t.numCol; ++v) {
    FUZZ_CHECK(t.colName[v - 1].size() == static_cast<std::size_t>(tavel::app::kNameLength),
               "name %d has %zu characters", v, t.colName[v - 1].size());
    if (v > t.numCol1) {
      const int source = t.lnSource[v - 1];
      FUZZ_CHECK(source >= 1 && source <= t.numCol1 && t.allPositive[source - 1],
                 "log variable %d from column %d", v, source);
      // "_ln_" and the column's first 46 bytes, or fewer when the 46th
      // would split a UTF-8 character (at most 3 bytes fewer, then blanks).
      const std::string& log = t.colName[v - 1];
      const std::string& column = t.colName[source - 1];
      std::size_t kept = 46;
      while (kept > 43 && log.compare(4, kept, column, 0, kept) != 0) --kept;
      FUZZ_CHECK(log.substr(0, 4) == "_ln_" && log.compare(4, kept, column, 0, kept) == 0 &&
                     log.find_first_not_of(' ', 4 + kept) == std::string::npos &&
                     (kept == 46 || (static_cast<unsigned char>(column[kept]) >> 6) == 3),
                 "log variable %d named [%s]", v, log.c_str());
    }
  }
  if (size == 0) {
    FUZZ_CHECK(t.numCol1 == 0 && t.nRows == 0 && !runtime.screen().empty() &&
                   runtime.screen().back() == " empty file",
               "an empty file is not reported as empty");
    return;
  }

  // A first line without names is refused: no rows, nothing to offer.
  if (t.numCol1 == 0) {
    FUZZ_CHECK(t.nRows == 0 && t.numCol == 0 && !state.problems.empty(),
               "a first line without names is not refused");
    return;
  }

  if (csv) {
    FUZZ_CHECK(t.csvSeparator == ',' || t.csvSeparator == ';', "CSV separator %d", t.csvSeparator);
  } else {
    // A .dat file is read as its content says: in free form, or as CSV
    // exactly when the content test says so.
    FUZZ_CHECK(runtime.rewind(kDataUnit), "the data file is not open after the scan");
    const char sniffed = tavel::app::sniffCsvSeparator(runtime, kDataUnit);
    FUZZ_CHECK(t.csvSeparator == sniffed, "separator %d, the content says %d", t.csvSeparator,
               sniffed);
    if (sniffed == 0) {
      // The names are those of the header line as the unit gives it.
      std::string header;
      FUZZ_CHECK(runtime.readLine(kDataUnit, header) == ReadResult::Success, "no header line");
      // Less the columns set aside (row names before the first name, an
      // identifier column), which are no variables.
      const std::vector<std::string> all = tavel::app::headerToNames(header);
      const std::size_t offset = t.cellKind.size() == all.size() + 1 ? 1 : 0;
      FUZZ_CHECK(t.cellKind.size() == all.size() + offset, "%zu kinds for %zu names",
                 t.cellKind.size(), all.size());
      std::vector<std::string> names;
      for (std::size_t c = 0; c < all.size(); ++c)
        if (t.cellKind[c + offset] != tavel::app::ColumnKind::Skipped) names.push_back(all[c]);
      FUZZ_CHECK(names.size() == static_cast<std::size_t>(t.numCol1) &&
                     std::equal(names.begin(), names.end(), t.colName.begin()),
                 "the names differ from the header's");
    }
  }

  // The scan's rows, read again in single precision, give its count and
  // its positivity; the re-read in double precision gives the same rows.
  const std::vector<std::vector<float>> narrow = readRows<float>(runtime, t);
  const std::vector<std::vector<double>> wide = readRows<double>(runtime, t);
  FUZZ_CHECK(narrow.size() == static_cast<std::size_t>(t.nRows), "scan counted %d rows, %zu read",
             t.nRows, narrow.size());
  FUZZ_CHECK(wide.size() == narrow.size(), "re-read found %zu rows, scan %zu", wide.size(),
             narrow.size());
  std::vector<bool> positive(static_cast<std::size_t>(t.numCol1), true);
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    for (std::size_t j = 0; j < narrow[i].size(); ++j) {
      const float f = narrow[i][j];
      const double d = wide[i][j];
      FUZZ_CHECK(!std::isnan(f) && !std::isnan(d), "row %zu column %zu is a NaN", i + 1, j + 1);
      FUZZ_CHECK(std::isfinite(d), "row %zu column %zu: %g in double precision", i + 1, j + 1, d);
      FUZZ_CHECK(roundsTo(d, f), "row %zu column %zu: %.9g read as %.17g", i + 1, j + 1,
                 static_cast<double>(f), d);
      positive[j] = positive[j] && f > 0.0f;
    }
  }
  for (int j = 0; j < t.numCol1; ++j)
    FUZZ_CHECK(positive[j] == t.allPositive[j], "column %d positivity", j + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkScan(data, size, false);
  checkScan(data, size, true);
  return 0;
}
