// U_export: the result list written to a CSV or JSON file.
//
// The desktop program's export writes with the core's writers
// (output/ResultWriter), so a file exported here and the output of
// corvane-cli in the same format are the same bytes for the same rows. What
// this unit adds is what a window needs around them:
//
//   - which rows: the ones the list shows, in the order it shows them (the
//     caller passes the source rows after sorting and filtering), with the
//     raw values, never the display texts;
//   - a progress callback every few thousand rows, which can stop the
//     writing;
//   - a file that appears whole or not at all: the bytes go to a temporary
//     file in the target's folder (QSaveFile) that replaces the target only
//     when everything was written. A cancelled or failed export leaves an
//     existing file as it was and no half-written one.
//
// Failures (a folder that cannot be written, a full disk) raise
// TOutputError with a text for the user.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "output/ResultWriter.h"

namespace corvane {

class TResultModel;

// Called with the rows written so far and the number of rows; false stops
// the export.
using TExportProgress = std::function<bool(size_t done, size_t total)>;

// How many rows pass between two progress calls.
constexpr size_t kExportProgressStep = 4096;

// Writes the model's rows (source row numbers, in this order) as one
// document to the sink. False when the progress callback stopped it (the
// sink then holds an unfinished document).
bool WriteRows(const TResultModel& model, const std::vector<int>& rows, TResultFormat format,
               ITextSink& sink, const TExportProgress& progress = {});

enum class TExportOutcome { eoWritten, eoCancelled };

// The same into the file at path, replacing it only when the export is
// complete.
TExportOutcome ExportToFile(const std::string& path, const TResultModel& model,
                            const std::vector<int>& rows, TResultFormat format,
                            const TExportProgress& progress = {});

}  // namespace corvane
