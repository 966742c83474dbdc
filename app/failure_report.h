#pragma once

#include <exception>
#include <string>

namespace quorvik {

// Where a failure that ended the program happened.
enum class FailureDuring {
  Update,  // the patch run behind "Perform Update"
  Window,  // starting, showing or drawing the window
};

// The text that tells the user what failed. For an update: what failed, on which file, the
// system's own reason, and that the program file was left as it was, where that is known. For
// the window: that it could not be shown or drawn, and why; nothing about the file, which the
// program had not touched.
std::wstring FailureReportText(const std::exception& failure, FailureDuring during);

// Shows that text in a message box with no owner window.
void ShowFailureReport(const std::exception& failure, FailureDuring during);

}  // namespace quorvik
