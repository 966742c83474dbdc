#include "failure_report.h"

#include <windows.h>

#include "outcome_message.h"
#include "utf8_win32.h"

namespace quorvik {

std::wstring FailureReportText(const std::exception& failure) {
  // FileError's text already names the operation, the file and the system's reason.
  std::wstring text = L"The update could not be carried out.\n\n";
  text += Utf8ToWide(failure.what());
  text += L"\n\nThe program file was left unchanged.";
  return text;
}

void ShowFailureReport(const std::exception& failure) {
  MessageBoxW(nullptr, FailureReportText(failure).c_str(), ProductTitle().c_str(),
              MB_OK | MB_SETFOREGROUND);
}

}  // namespace quorvik
