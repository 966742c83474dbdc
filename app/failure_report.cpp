#include "failure_report.h"

#include <windows.h>

#include "file_error.h"
#include "outcome_message.h"
#include "win32_support.h"

namespace quorvik {
namespace {

// Every step before the replace leaves the file as it was; only a replace whose outcome could
// not be checked does not, and its FileError says so.
bool LeftFileUnchanged(const std::exception& failure) {
  const auto* fileError = dynamic_cast<const FileError*>(&failure);
  return fileError == nullptr || fileError->fileLeftUnchanged();
}

}  // namespace

std::wstring FailureReportText(const std::exception& failure, FailureDuring during) {
  // FileError's text already names the operation, the file and the system's reason.
  const std::wstring what = Utf8ToWide(failure.what());
  if (during == FailureDuring::Window) {
    return L"The utility's window could not be shown.\n\n" + what;
  }
  std::wstring text = L"The update could not be carried out.\n\n" + what;
  if (LeftFileUnchanged(failure)) text += L"\n\nThe program file was left unchanged.";
  return text;
}

void ShowFailureReport(const std::exception& failure, FailureDuring during) {
  MessageBoxW(nullptr, FailureReportText(failure, during).c_str(), ProductTitle().c_str(),
              MB_OK | MB_SETFOREGROUND);
}

}  // namespace quorvik
