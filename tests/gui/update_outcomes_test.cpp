// The update sequence behind "Perform Update", driven from outside: each outcome's message, the
// moments "Please Wait..." shows and goes, and what happens to the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "control_ids.h"
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

}  // namespace
}  // namespace quorvik::testing
