#pragma once

#include <string>
#include <string_view>

#include "file_commands.h"

namespace quorvik {

std::string_view VerdictText(CheckVerdict verdict);

// One line per pair with its number, whether it is required and the hexadecimal offset where
// its English text would be replaced (or "missing"), then the verdict line.
std::string CheckReportText(const FileCheck& check);

// The same as one JSON object: {"pairs": [{"number", "required", "offset"}...], "verdict"}, with
// each offset a number of bytes, or null when the text is missing.
std::string CheckReportJson(const FileCheck& check);

}  // namespace quorvik
