// End to end on the sample install: the utility patches the sample product's program file, and
// the product then shows every one of its texts in Italian.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "build_path.h"
#include "running_utility.h"
#include "sample_product_ids.h"
#include "temp_folder.h"
#include "translation_table.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

std::wstring Widen(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// Types the product's path into the utility, presses "Perform Update", and expects the update
// to complete and the utility to end.
void PatchWithTheUtility(const std::filesystem::path& product) {
  const RunningUtility utility;
  utility.SetPath(product.wstring());
  utility.ClickUpdate();
  const auto box = WaitForMessageBox(utility.process().id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Update is complete!");
  PressOk(*box);
  EXPECT_EQ(utility.process().WaitForExit(), 0u);
}

TEST(SampleProduct, PatchedByTheUtilityItShowsItsTextsInItalian) {
  const TempFolder folder;
  const auto product = folder.path() / "Quorvik.exe";
  std::filesystem::copy_file(FromBuildPath(QUORVIK_SAMPLE_PRODUCT_EXE), product);
  ASSERT_NO_FATAL_FAILURE(PatchWithTheUtility(product));

  const LaunchedProcess running(product.wstring());
  HWND window = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] { return (window = FindVisibleTopLevelWindow(running.id(), L"QuorvikSampleProduct")); }));
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    SCOPED_TRACE(pair.number);
    EXPECT_EQ(TextOf(GetDlgItem(window, IDS_FIRST_TEXT + pair.number - 1)), Widen(pair.italian));
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(running.WaitForExit(), 0u);
}

TEST(SampleProduct, WhileTheProductRunsTheUtilityRefusesAndAfterwardsPatchesIt) {
  const TempFolder folder;
  const auto product = folder.path() / "Quorvik.exe";
  std::filesystem::copy_file(FromBuildPath(QUORVIK_SAMPLE_PRODUCT_EXE), product);
  {
    const LaunchedProcess running(product.wstring());
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      return (window = FindVisibleTopLevelWindow(running.id(), L"QuorvikSampleProduct"));
    }));
    const RefusedStart refused = StartExpectingRefusal();
    ASSERT_TRUE(refused.message);
    EXPECT_EQ(refused.message->text, L"Quorvik 2000 should not be running at this time.");
    EXPECT_FALSE(refused.hadMainWindow);
    EXPECT_NE(refused.exitCode.value_or(0), 0u);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(running.WaitForExit(), 0u);
  }

  ASSERT_NO_FATAL_FAILURE(PatchWithTheUtility(product));
}

}  // namespace
}  // namespace quorvik::testing
