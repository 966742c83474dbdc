// A file failure the patch run does not expect: one message naming it, the program ended with a
// failure code, and the program file as it was.
#include <gtest/gtest.h>

#include "running_utility.h"
#include "sample_target.h"
#include "temp_folder.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

class UnexpectedFailure : public ::testing::Test {
 protected:
  UnexpectedFailure() { WriteBytes(target_, tools::MakeSampleTarget({})); }

  enum class Click { Posted, Sent };

  // Runs an update on the target and checks the report and the end of the program.
  void ExpectFailureReported(const std::wstring& systemReason, Click click = Click::Posted) {
    const RunningUtility utility;
    utility.SetPath(target_.wstring());
    if (click == Click::Posted) {
      utility.ClickUpdate();
    } else {
      utility.SendClickUpdate();
    }
    const auto box = WaitForMessageBox(utility.process().id());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Quorvik 2000");
    EXPECT_TRUE(box->text.starts_with(L"The update could not be carried out.")) << box->text;
    EXPECT_NE(box->text.find(target_.wstring()), std::wstring::npos) << "names no file";
    EXPECT_NE(box->text.find(systemReason), std::wstring::npos) << "gives no reason";
    EXPECT_NE(box->text.find(L"left unchanged"), std::wstring::npos);
    EXPECT_EQ(box->buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_FALSE(IsWindow(utility.window())) << "the main window outlived the failure";
    EXPECT_TRUE(IsWindowVisible(box->box) &&
                !utility.process().WaitForExit(std::chrono::milliseconds(0)))
        << "the report went before OK was pressed";

    PressOk(*box);
    const auto exitCode = utility.process().WaitForExit();
    ASSERT_TRUE(exitCode);
    EXPECT_NE(*exitCode, 0u);
  }

  void ExpectTargetUntouched() {
    EXPECT_EQ(ReadBytes(target_), tools::MakeSampleTarget({}));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
  }

  const TempFolder folder_;
  const std::filesystem::path target_ = folder_.path() / "Quorvik.exe";
};

TEST_F(UnexpectedFailure, FileHeldThroughoutByAnotherProgramIsReportedInUse) {
  {
    // Another program reads the file and lets nobody delete or rename it meanwhile.
    const UniqueHandle holder(CreateFileW(target_.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    ExpectFailureReported(L"the file is in use by another program");
  }
  ExpectTargetUntouched();
}

TEST_F(UnexpectedFailure, ReadOnlyFileIsRefused) {
  ASSERT_TRUE(SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectFailureReported(L"read-only");
  ExpectTargetUntouched();
}

// The failure then happens while the window handles a sent message, inside its wait for input.
TEST_F(UnexpectedFailure, FailureAfterAClickSentByAnotherProgramIsReportedAlike) {
  ASSERT_TRUE(SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectFailureReported(L"read-only", Click::Sent);
  ExpectTargetUntouched();
}

}  // namespace
}  // namespace quorvik::testing
