#pragma once

#include <exception>
#include <string>

namespace quorvik {

// The text that tells the user an update failed: what failed, on which file, the system's own
// reason, and that the program file was left as it was.
std::wstring FailureReportText(const std::exception& failure);

// Shows that text in a message box with no owner window.
void ShowFailureReport(const std::exception& failure);

}  // namespace quorvik
