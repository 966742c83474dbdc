// The start-up check: the utility refuses to start beside a window titled with the marker title
// (the caption and one blank), and takes that title itself once it has started.
#include "instance_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "running_utility.h"
#include "win32_resources.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

constexpr wchar_t kCaption[] = L"[_ Quorvik 2000 _|";

// A top-level window of the test's own, standing in for some program's window by its title.
class TitledWindow {
 public:
  explicit TitledWindow(const std::wstring& title)
      : window_(CreateWindowExW(0, L"STATIC", title.c_str(), WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr)) {}
  TitledWindow(const TitledWindow&) = delete;
  TitledWindow& operator=(const TitledWindow&) = delete;
  ~TitledWindow() { DestroyWindow(window_); }
  HWND handle() const { return window_; }

 private:
  HWND window_;
};

// Starts another copy of the utility and checks that it refuses as the user should see it.
void ExpectRefusedStart() {
  const RefusedStart start = StartExpectingRefusal();
  ASSERT_TRUE(start.message);
  EXPECT_EQ(start.message->text, L"Quorvik 2000 should not be running at this time.");
  EXPECT_EQ(start.message->title, kCaption);
  EXPECT_EQ(start.message->buttons, std::vector<std::wstring>{L"OK"});
  EXPECT_FALSE(start.message->showsIcon);
  EXPECT_EQ(start.message->owner, nullptr);
  EXPECT_TRUE(start.waitedForOk) << "the message went before OK was pressed";
  EXPECT_FALSE(start.hadMainWindow) << "a main window existed beside the message";
  ASSERT_TRUE(start.exitCode);
  EXPECT_NE(*start.exitCode, 0u);
}

TEST(InstanceGuard, StartedAloneTheWindowTakesTheMarkerTitle) {
  const RunningUtility utility;
  EXPECT_EQ(TextOf(utility.window()), std::wstring(kCaption) + L" ");
}

TEST(InstanceGuard, SecondCopyIsRefusedAndTheFirstCarriesOn) {
  const RunningUtility first;
  ExpectRefusedStart();

  EXPECT_TRUE(IsWindowVisible(first.window()));
  EXPECT_EQ(TextOf(first.window()), std::wstring(kCaption) + L" ");
  first.SetPath(L"");
  first.ClickUpdate();
  const auto box = WaitForMessageBox(first.process().id());
  ASSERT_TRUE(box);
  EXPECT_EQ(box->title, L"Error");
  PressOk(*box);
  EXPECT_TRUE(WaitUntil([&] { return !HasMessageBox(first.process().id()); }));
}

TEST(InstanceGuard, MarkerTitleDifferingOnlyInLetterCaseRefusesTheStart) {
  const TitledWindow product(L"[_ QUORVIK 2000 _| ");
  ASSERT_TRUE(product.handle());
  ExpectRefusedStart();
}

TEST(InstanceGuard, CaptionWithoutTheTrailingBlankDoesNotCount) {
  const TitledWindow lookalike(kCaption);
  ASSERT_TRUE(lookalike.handle());
  const RunningUtility utility;
  EXPECT_EQ(TextOf(utility.window()), std::wstring(kCaption) + L" ");
}

// Two copies started at the same moment: the first has taken the single-copy mutex but not yet
// the marker title. The test holds the mutex in its place, with no window of that title open.
TEST(InstanceGuard, CopyStartedWhileAnotherHoldsTheSingleCopyMutexIsRefused) {
  const UniqueHandle mutex(CreateMutexW(nullptr, TRUE, kSingleCopyMutexName));
  ASSERT_TRUE(mutex);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another copy runs";
  ASSERT_EQ(FindWindowW(nullptr, (std::wstring(kCaption) + L" ").c_str()), nullptr);
  ExpectRefusedStart();
  ReleaseMutex(mutex.get());
}

TEST(InstanceGuard, RunningCopyHoldsTheSingleCopyMutexUntilItEnds) {
  const RunningUtility utility;
  const UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleCopyMutexName));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  PostMessageW(utility.window(), WM_CLOSE, 0, 0);
  ASSERT_EQ(utility.process().WaitForExit(), 0u);
  // Let go of on the way out, not abandoned.
  EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ReleaseMutex(mutex.get());
}

}  // namespace
}  // namespace quorvik::testing
