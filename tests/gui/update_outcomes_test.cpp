// The update sequence behind "Perform Update", driven from outside: each outcome's message, the
// moments "Please Wait..." shows and goes, what happens to the file, and how the program ends.
#include <gtest/gtest.h>

#include <filesystem>

#include "main_window_design.h"
#include "running_utility.h"
#include "sample_target.h"
#include "temp_folder.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

constexpr wchar_t kInvalidPathText[] = L"File Path is Invalid.  Enter correct path and try again.";
constexpr wchar_t kCannotUpdateText[] =
    L"Can not update now.  Program has already been updated or File Path is invalid.";
constexpr wchar_t kProductTitle[] = L"Quorvik 2000";

void ExpectPlainMessage(const MessageBoxView& box, const RunningUtility& utility,
                        const std::wstring& text, const std::wstring& title) {
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.title, title);
  EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
  EXPECT_FALSE(box.showsIcon);
  EXPECT_EQ(box.owner, utility.window());
}

Bytes NotTheProduct() {
  Bytes bytes(5000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

TEST(UpdateOutcomes, EmptyPathIsReportedInvalidWithTheBusyLabelAlreadyHidden) {
  const RunningUtility utility;
  utility.SetPath(L"");
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  ExpectPlainMessage(*box, utility, kInvalidPathText, L"Error");
  EXPECT_FALSE(utility.IsControlVisible(kLblWaitId));

  PressOk(*box);
  ASSERT_TRUE(WaitUntil([&] { return !HasMessageBox(utility.process().id()); }));
  EXPECT_FALSE(utility.process().WaitForExit(std::chrono::milliseconds(0)));
  EXPECT_FALSE(utility.IsControlVisible(kLblWaitId));
}

TEST(UpdateOutcomes, PathOnAMissingDriveGetsThePlainInvalidPathMessage) {
  // The companion adds why an elevated program may not see a mapped drive; the window's
  // message stays as it is.
  const DWORD drives = GetLogicalDrives();
  wchar_t drive = L'Y';
  while (drive > L'C' && ((drives >> (drive - L'A')) & 1)) --drive;
  const RunningUtility utility;
  utility.SetPath(std::wstring(1, drive) + L":\\Programmi\\Quorvik\\Quorvik.exe");
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  ExpectPlainMessage(*box, utility, kInvalidPathText, L"Error");
  PressOk(*box);
}

TEST(UpdateOutcomes, OtherFileCannotBeUpdatedAndStaysUntouchedAndTheWindowStaysUsable) {
  const TempFolder folder;
  const auto target = folder.path() / "notes.dat";
  WriteBytes(target, NotTheProduct());
  const RunningUtility utility;
  utility.SetPath(target.wstring());

  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    utility.ClickUpdate();
    const auto box = WaitForMessageBox(utility.process().id());
    ASSERT_TRUE(box);
    ExpectPlainMessage(*box, utility, kCannotUpdateText, kProductTitle);
    EXPECT_TRUE(utility.IsControlVisible(kLblWaitId)) << "hidden before the message was read";

    PressOk(*box);
    EXPECT_TRUE(WaitUntil([&] { return !utility.IsControlVisible(kLblWaitId); }));
    EXPECT_FALSE(HasMessageBox(utility.process().id()));
    EXPECT_EQ(ReadBytes(target), NotTheProduct());
    EXPECT_EQ(TextOf(utility.Control(kTxtFilePathId)), target.wstring());
  }
}

TEST(UpdateOutcomes, ClickQueuedDuringARunDoesNotStartASecondRun) {
  const TempFolder folder;
  const auto target = folder.path() / "notes.dat";
  WriteBytes(target, NotTheProduct());
  const RunningUtility utility;
  utility.SetPath(target.wstring());
  // Both clicks are queued before the first is handled; the second reaches the button while the
  // first run's message box is open.
  utility.ClickUpdate();
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  PressOk(*box);
  ASSERT_TRUE(WaitUntil([&] { return !utility.IsControlVisible(kLblWaitId); }));
  EXPECT_FALSE(HasMessageBox(utility.process().id()));
}

// Makes the product's default install path inside the test's Wine prefix, and takes it away.
class DefaultInstall {
 public:
  DefaultInstall() {
    std::filesystem::create_directories(kFolder);
    WriteBytes(kProgram, tools::MakeSampleTarget({}));
  }
  DefaultInstall(const DefaultInstall&) = delete;
  DefaultInstall& operator=(const DefaultInstall&) = delete;
  ~DefaultInstall() {
    std::error_code ignored;
    std::filesystem::remove_all(kRoot, ignored);
  }
  static inline const std::filesystem::path kRoot = L"C:\\Programmi";
  static inline const std::filesystem::path kFolder = kRoot / L"Quorvik";
  static inline const std::filesystem::path kProgram = kFolder / L"Quorvik.exe";
};

TEST(UpdateOutcomes, DefaultPathIsPatchedAndTheProgramEndsAfterOk) {
  const DefaultInstall install;
  const RunningUtility utility;
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  ExpectPlainMessage(*box, utility, L"Update is complete!", kProductTitle);
  EXPECT_TRUE(utility.IsControlVisible(kLblWaitId));

  PressOk(*box);
  EXPECT_EQ(utility.process().WaitForExit(), 0u);
  EXPECT_EQ(ReadBytes(DefaultInstall::kProgram),
            tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound));
}

TEST(UpdateOutcomes, PathPastedInDoubleQuotesAfterBlanksIsPatched) {
  // Explorer's "Copy as path" puts the path in double quotes.
  const TempFolder folder;
  const auto target = folder.path() / "Quorvik.exe";
  WriteBytes(target, tools::MakeSampleTarget({}));
  const RunningUtility utility;
  utility.SetPath(L"  \"" + target.wstring() + L"\"");
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  ExpectPlainMessage(*box, utility, L"Update is complete!", kProductTitle);

  PressOk(*box);
  EXPECT_EQ(utility.process().WaitForExit(), 0u);
  EXPECT_EQ(ReadBytes(target),
            tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound));
}

// Automation and accessibility tools send the click rather than post it. The window then handles
// it inside its wait for input, and the program must end all the same once OK is pressed.
TEST(UpdateOutcomes, ClickSentByAnotherProgramPatchesAndTheProgramEndsAfterOk) {
  const TempFolder folder;
  const auto target = folder.path() / "Quorvik.exe";
  WriteBytes(target, tools::MakeSampleTarget({}));
  const RunningUtility utility;
  utility.SetPath(target.wstring());
  utility.SendClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  ExpectPlainMessage(*box, utility, L"Update is complete!", kProductTitle);

  PressOk(*box);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(utility.window()); }));
  EXPECT_EQ(utility.process().WaitForExit(), 0u) << "the program outlived its window";
  EXPECT_EQ(ReadBytes(target),
            tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound));
}

// However the window is closed, the program ends with it and reports success.
struct CloseRequest {
  const char* name;
  UINT message;
  WPARAM wParam;
};

TEST(ProgramEnd, WindowClosedByAMessageSentFromAnotherProgramEndsTheProgram) {
  // The task bar, Task Manager and automation tools send these rather than post them.
  for (const CloseRequest& request :
       {CloseRequest{"WM_CLOSE", WM_CLOSE, 0}, CloseRequest{"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE}}) {
    SCOPED_TRACE(request.name);
    const RunningUtility utility;
    SendWithoutWaiting(utility.window(), request.message, request.wParam);
    EXPECT_EQ(utility.process().WaitForExit(), 0u) << "the program outlived its window";
    EXPECT_TRUE(TopLevelWindowsOf(utility.process().id()).empty());
  }
}

// Logging off or shutting down: asked first, then told. Also while a message waits for OK.
void ExpectLogOffEnds(const RunningUtility& utility) {
  DWORD_PTR mayEnd = 0;
  ASSERT_TRUE(SendMessageTimeoutW(utility.window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                  SMTO_ABORTIFHUNG, 10000, &mayEnd));
  EXPECT_TRUE(mayEnd) << "the window refused the log-off";
  SendWithoutWaiting(utility.window(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(utility.process().WaitForExit(), 0u);
}

TEST(ProgramEnd, LoggingOffEndsTheProgram) {
  const RunningUtility utility;
  ExpectLogOffEnds(utility);
}

TEST(ProgramEnd, LoggingOffWhileAnOutcomeMessageIsOpenEndsTheProgram) {
  const TempFolder folder;
  const auto target = folder.path() / "notes.dat";
  WriteBytes(target, NotTheProduct());
  const RunningUtility utility;
  utility.SetPath(target.wstring());
  utility.ClickUpdate();
  ASSERT_TRUE(WaitForMessageBox(utility.process().id()));
  ExpectLogOffEnds(utility);
  EXPECT_EQ(ReadBytes(target), NotTheProduct());
}

}  // namespace
}  // namespace quorvik::testing
