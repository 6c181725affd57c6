// SPDX-License-Identifier: GPL-3.0-or-later
#include "io/row_reader.h"

#include <algorithm>
#include <utility>

namespace tavel::io {

RowFormat rowFormat(const DataTable& data) {
  RowFormat format;
  format.csvSeparator = data.csvSeparator;
  format.plan = readingPlan(data);
  format.carryIn = data.rowCarryIn;
  return format;
}

RowReader::RowReader(platform::TextSource& source, int unit, RowFormat format)
    : format_(std::move(format)) {
  source.rewind(unit);
  if (format_.csvSeparator != 0) {
    csv_.emplace(source, unit, format_.csvSeparator);
    hadHeader_ = csv_->readHeader(headerCells_, format_.headerKeepChars);
    csv_->setPlan(planOrNone());
  } else {
    freeForm_.emplace(source, unit);
    hadHeader_ = freeForm_->discardRecord() == platform::ReadResult::Success;
    freeForm_->setPlan(planOrNone());
  }
}

void RowReader::setPlan(CellPlan plan) {
  format_.plan = std::move(plan);
  if (csv_) csv_->setPlan(planOrNone());
  if (freeForm_) freeForm_->setPlan(planOrNone());
}

template <typename T>
void RowReader::startFromCarryIn(std::span<T> values) {
  if (started_) return;
  started_ = true;
  const std::size_t n = std::min(values.size(), format_.carryIn.size());
  for (std::size_t j = 0; j < n; ++j) values[j] = static_cast<T>(format_.carryIn[j]);
}

bool RowReader::nextRow(std::span<float> values) {
  startFromCarryIn(values);
  if (!hadHeader_) return false;
  return csv_ ? csv_->nextRow(values) : freeForm_->nextRow(values);
}

bool RowReader::nextRow(std::span<double> values) {
  startFromCarryIn(values);
  if (!hadHeader_) return false;
  return csv_ ? csv_->nextRow(values) : freeForm_->nextRow(values);
}

RowRead RowReader::readRow(std::span<double> values) {
  startFromCarryIn(values);
  if (!hadHeader_) return RowRead::End;
  if (csv_) return csv_->readRow(values);
  switch (freeForm_->readRow(values)) {
    case platform::ReadResult::Success:
      return RowRead::Row;
    case platform::ReadResult::EndOfFile:
      return RowRead::End;
    case platform::ReadResult::Error:
      break;
  }
  return freeForm_->lastRowMissing() ? RowRead::Incomplete : RowRead::Unreadable;
}

bool RowReader::inputFailed() const {
  return csv_ ? csv_->inputFailed() : freeForm_->inputFailed();
}
int RowReader::incompleteRows() const {
  return csv_ ? csv_->incompleteRows() : freeForm_->incompleteRows();
}
int RowReader::firstIncompleteLine() const {
  return csv_ ? csv_->firstIncompleteLine() : freeForm_->firstIncompleteLine();
}
int RowReader::unreadableRows() const {
  return csv_ ? csv_->unreadableRows() : freeForm_->unreadableRows();
}
int RowReader::firstUnreadableLine() const {
  return csv_ ? csv_->firstUnreadableLine() : freeForm_->firstUnreadableLine();
}
int RowReader::firstUnreadableCell() const {
  return csv_ ? csv_->firstUnreadableCell() : freeForm_->firstUnreadableCell();
}
const std::string& RowReader::firstUnreadableText() const {
  return csv_ ? csv_->firstUnreadableText() : freeForm_->firstUnreadableText();
}
int RowReader::rowsKeepingValues() const { return csv_ ? 0 : freeForm_->rowsKeepingValues(); }
int RowReader::firstKeepingLine() const { return csv_ ? 0 : freeForm_->firstKeepingLine(); }

}  // namespace tavel::io
