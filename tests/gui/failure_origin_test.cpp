// Where a failure that ends the program came from, as the window tells it to the top level: the
// update behind "Perform Update", or the window itself. The window is created hidden in the
// test's own process.
#include <gtest/gtest.h>

#include <filesystem>

#include "file_error.h"
#include "main_window.h"
#include "main_window_design.h"
#include "sample_target.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

TEST(FailureOrigin, AFailureOfThePatchRunIsTheUpdatesFailure) {
  const testing::TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";
  testing::WriteBytes(target, tools::MakeSampleTarget({}));
  std::filesystem::permissions(target, std::filesystem::perms::all,
                               std::filesystem::perm_options::remove);

  MainWindow window(GetModuleHandleW(nullptr));
  ASSERT_FALSE(window.FailedDuringUpdate());
  SetWindowTextW(window.Control(kTxtFilePathId), target.c_str());
  SendMessageW(window.handle(), WM_COMMAND, MAKEWPARAM(kCmdUpdateId, BN_CLICKED),
               reinterpret_cast<LPARAM>(window.Control(kCmdUpdateId)));

  const std::exception_ptr failure = window.TakeFailure();
  ASSERT_TRUE(failure) << "the read-only file was not refused";
  EXPECT_TRUE(window.FailedDuringUpdate());
  EXPECT_THROW(std::rethrow_exception(failure), FileError);
  EXPECT_EQ(window.handle(), nullptr) << "the window outlived the failure";
}

}  // namespace
}  // namespace quorvik
