// The window as it first appears, read from outside the way a user sees it.
#include <gtest/gtest.h>

#include <string>

#include "main_window_design.h"
#include "running_utility.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

struct ExpectedControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  RECT pixels;  // at 96 DPI: left, top, right, bottom
  bool visible;
  bool tabStop;
};

// In Z order, which Tab walks and by which a screen reader names the path box after the prompt
// just before it. The design's twips divided by 15, the pixel size of a twip at 96 DPI.
constexpr ExpectedControl kExpectedControls[] = {
    {kLabel2Id, L"Static", L"Quorvik 2000 Italian Language Patch", {88, 8, 449, 41}, true, false},
    {kLabel4Id,
     L"Static",
     L"Please Enter the Path of the Quorvik Executable Program:",
     {0, 64, 449, 89},
     true,
     false},
    {kTxtFilePathId,
     L"Edit",
     L"C:\\Programmi\\Quorvik\\Quorvik.exe",
     {16, 96, 433, 121},
     true,
     true},
    {kCmdUpdateId, L"Button", L"Perform Update", {152, 144, 281, 169}, true, true},
    {kLblWaitId, L"Static", L"Please Wait...", {304, 144, 441, 161}, false, false},
};

TEST(StartState, WindowHasItsCaptionClientSizeAndIsCentred) {
  const RunningUtility utility;
  // The designed caption and the blank the start-up check adds.
  EXPECT_EQ(TextOf(utility.window()), L"[_ Quorvik 2000 _| ");
  const SIZE client = ClientSize(utility.window());
  EXPECT_EQ(client.cx, 447);
  EXPECT_EQ(client.cy, 182);

  RECT outer{};
  GetWindowRect(utility.window(), &outer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(utility.window(), MONITOR_DEFAULTTOPRIMARY), &monitor);
  EXPECT_NEAR(outer.left - monitor.rcWork.left, monitor.rcWork.right - outer.right, 1);
  EXPECT_NEAR(outer.top - monitor.rcWork.top, monitor.rcWork.bottom - outer.bottom, 1);
}

TEST(StartState, ControlsHaveTheirTextsPlacesAndVisibilityInZOrder) {
  const RunningUtility utility;
  const std::vector<HWND> children = ChildrenInZOrder(utility.window());
  ASSERT_EQ(children.size(), std::size(kExpectedControls));
  for (std::size_t i = 0; i < children.size(); ++i) {
    const ExpectedControl& expected = kExpectedControls[i];
    SCOPED_TRACE(expected.text);
    const HWND control = children[i];
    EXPECT_EQ(GetDlgCtrlID(control), expected.id);
    EXPECT_EQ(ClassOf(control), expected.className);
    EXPECT_EQ(TextOf(control), expected.text);
    const RECT rect = RectInParent(control);
    EXPECT_EQ(rect.left, expected.pixels.left);
    EXPECT_EQ(rect.top, expected.pixels.top);
    EXPECT_EQ(rect.right, expected.pixels.right);
    EXPECT_EQ(rect.bottom, expected.pixels.bottom);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    EXPECT_EQ((style & WS_VISIBLE) != 0, expected.visible);
    EXPECT_EQ((style & WS_TABSTOP) != 0, expected.tabStop);
  }
  // No button is the default one that Enter would press.
  EXPECT_EQ(GetWindowLongW(utility.Control(kCmdUpdateId), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST(StartState, FocusStartsInThePathBoxAndTabMovesBetweenBoxAndButton) {
  const RunningUtility utility;
  const HWND pathBox = utility.Control(kTxtFilePathId);
  const HWND button = utility.Control(kCmdUpdateId);
  EXPECT_EQ(FocusedWindowOf(utility.window()), pathBox);

  PostKey(pathBox, VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return FocusedWindowOf(utility.window()) == button; }));
  PostKey(button, VK_TAB);
  EXPECT_TRUE(WaitUntil([&] { return FocusedWindowOf(utility.window()) == pathBox; }));
}

TEST(StartState, EnterAndEscapeInThePathBoxPressNoButton) {
  const RunningUtility utility;
  const HWND pathBox = utility.Control(kTxtFilePathId);
  PostKey(pathBox, VK_RETURN);
  PostKey(pathBox, VK_ESCAPE);
  // The Tab posted after them is handled only once they have been.
  PostKey(pathBox, VK_TAB);
  ASSERT_TRUE(WaitUntil(
      [&] { return FocusedWindowOf(utility.window()) == utility.Control(kCmdUpdateId); }));
  EXPECT_FALSE(HasMessageBox(utility.process().id()));
  EXPECT_FALSE(utility.IsControlVisible(kLblWaitId));
  EXPECT_TRUE(IsWindowVisible(utility.window()));
}

TEST(StartState, ClosingTheWindowEndsTheProgram) {
  const RunningUtility utility;
  PostMessageW(utility.window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(utility.process().WaitForExit(), 0u);
  EXPECT_FALSE(HasMessageBox(utility.process().id()));
}

}  // namespace
}  // namespace quorvik::testing
