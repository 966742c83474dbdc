#pragma once

#include <string>
#include <string_view>

#include "file_commands.h"

namespace quorvik {

std::string_view VerdictText(CheckVerdict verdict);

// One line per pair with its number, whether it is required and the hexadecimal offset where
// its English text would be replaced (or "missing"), then the verdict line.
std::string CheckReportText(const FileCheck& check);

// The same as one JSON object: {"format": 1, "pairs": [{"number", "required", "offset"}...],
// "verdict"}, with each offset a number of bytes, or null when the text is missing. "format"
// changes only when a reader of the earlier form would misread the new one.
std::string CheckReportJson(const FileCheck& check);

// The JSON object for a file that could not be checked, so that a reader always gets one: no
// pairs, the verdict ("invalid path", "failed") and an "error" that says why.
std::string UncheckedReportJson(std::string_view verdict, std::string_view error);

}  // namespace quorvik
