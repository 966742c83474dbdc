// The report that ends the program after a failure: an update's failure says what became of the
// program file, as far as that is known; a failure of the window says nothing about the file.
#include "failure_report.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "file_error.h"

namespace quorvik {
namespace {

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

FileError ReplaceFailure() {
  return FileError("Could not replace", L"C:\\Programmi\\Quorvik\\Quorvik.exe",
                   "the file is in use by another program");
}

TEST(FailureReport, AFailedUpdateNamesTheFailureAndSaysTheFileWasLeftUnchanged) {
  const std::wstring text = FailureReportText(ReplaceFailure(), FailureDuring::Update);
  EXPECT_TRUE(text.starts_with(L"The update could not be carried out.")) << text;
  EXPECT_TRUE(Contains(text,
                       L"Could not replace \"C:\\Programmi\\Quorvik\\Quorvik.exe\": the "
                       L"file is in use by another program"))
      << text;
  EXPECT_TRUE(text.ends_with(L"The program file was left unchanged.")) << text;
}

TEST(FailureReport, AReplaceOfUnknownOutcomeDoesNotClaimTheFileUnchanged) {
  FileError failure = ReplaceFailure();
  failure.MarkFileStateUnknown();
  const std::wstring text = FailureReportText(failure, FailureDuring::Update);
  EXPECT_TRUE(text.starts_with(L"The update could not be carried out.")) << text;
  EXPECT_TRUE(Contains(text, L"could not be checked")) << text;
  EXPECT_FALSE(Contains(text, L"unchanged")) << text;
}

TEST(FailureReport, AWindowThatCouldNotBeMadeIsReportedAsSuchAndNotAsAnUpdate) {
  const std::runtime_error failure("Could not create a font for the main window: Error [0x0]");
  const std::wstring text = FailureReportText(failure, FailureDuring::Window);
  EXPECT_TRUE(text.starts_with(L"The utility's window could not be shown.")) << text;
  EXPECT_TRUE(Contains(text, L"Could not create a font for the main window")) << text;
  for (const wchar_t* aboutTheFile : {L"update", L"file was", L"unchanged"}) {
    EXPECT_FALSE(Contains(text, aboutTheFile)) << text;
  }
}

}  // namespace
}  // namespace quorvik
