// SPDX-License-Identifier: GPL-3.0-or-later
// The readers, field formats and trace lines belong to io/, which knows no
// dialogs; the shell and the Run have always called them as their own, and
// keep doing so through these names. New code may name io:: directly.
#pragma once

#include <string_view>

#include "io/column_kinds.h"
#include "io/csv_reader.h"
#include "io/data_file.h"
#include "io/data_table.h"
#include "io/field_format.h"
#include "io/file_format.h"
#include "io/free_form_reader.h"
#include "io/header_names.h"
#include "io/trace.h"
#include "io/workbook.h"
#include "platform/runtime.h"

namespace tavel::app {

struct AppState;

// io/data_table.h
using io::kDataUnit;
using io::kFileNameLength;
using io::kLogFileName;
using io::kLogUnit;
using io::kMaxNames;
using io::kNameLength;
// io/column_kinds.h
using io::CellPlan;
using io::ColumnCells;
using io::ColumnKind;
using io::columnKindOf;
using io::ColumnSurvey;
using io::isMissingMark;
using io::kMaxCategoryLabels;
using io::readDecimalCommaNumber;
using io::readIsoDate;
// io/csv_reader.h
using io::CsvReader;
using io::detectCsvSeparator;
using io::kByteOrderMark;
using io::sameLetters;
// io/data_file.h
using io::isCsvFileName;
using io::kLnNameChars;
using io::surveyColumns;
// io/field_format.h
using io::appendA;
using io::appendE;
using io::appendF;
using io::appendG;
using io::appendI;
using io::appendListLine;
using io::appendX;
using io::delRsqText;
using io::fieldE;
using io::fieldF;
using io::fieldG;
using io::fieldI;
using io::kListIntegerWidth;
using io::ListItem;
using io::listLine;
using io::numTermText;
using io::putE;
using io::putG;
// io/file_format.h
using io::chooseFileReading;
using io::csvReadingLine;
using io::isTabFileName;
using io::kSniffDataLines;
using io::ReadingAsked;
using io::sniffCsvSeparator;
// io/free_form_reader.h
using io::FreeFormReader;
using io::readFreeFormNumber;
using io::readRealValue;
// io/header_names.h
using io::cutToWidth;
using io::FreeFormHeaderSplitter;
using io::HeaderNames;
using io::headerToNames;
using io::isUtf8;
using io::kNameKeepBytes;
using io::latin1ToUtf8;
using io::namesFromCells;
using io::readFreeFormHeader;
using io::splitHeader;
// io/trace.h
using io::padded;
using io::traceBoth;
using io::traceScreen;
using io::trimName;
// io/workbook.h
using io::isWorkbookFileName;
using io::kMaxWorkbookPartBytes;
using io::openWorkbookForReading;
using io::SheetRead;
using io::sheetReadingLine;
using io::WorkbookLimits;
using io::workbookSheetNames;
using io::writeSheetAsCsv;

// Something a command was asked to do and could not: the line on the main
// output window and in the log, and kept without its leading blanks in
// AppState::problems (tavel-batch's exit status).
void refuse(platform::Runtime& runtime, AppState& state, std::string_view line);

// What the user asked for whatever the file's name (tavel-batch --csv and
// --tsv); both false in the GUI.
ReadingAsked readingAsked(const AppState& state);

}  // namespace tavel::app
