// What can only be seen inside the program: the controls' fonts and colours, the flag picture's
// pixels, and Ctrl+A in the path box. The window is created hidden in the test's own process.
#include <gtest/gtest.h>
#include <oleacc.h>

#include <string>

#include "dpi.h"
#include "flag_painter.h"
#include "given_newer_functions.h"
#include "main_window.h"
#include "main_window_design.h"
#include "resource_ids.h"
#include "win32_resources.h"
#include "win32_support.h"

namespace quorvik {
namespace {

constexpr COLORREF kFlagGreen = RGB(0, 176, 69);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kFlagRed = RGB(255, 0, 0);
constexpr COLORREF kUntouched = RGB(1, 2, 3);

// A 32-bit picture to paint into, filled with a colour nothing else draws.
class Canvas {
 public:
  Canvas(int width, int height) : dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_ = BitmapHandle(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, nullptr, nullptr, 0));
    previous_ = SelectObject(dc_.get(), bitmap_.get());
    const RECT all{0, 0, width, height};
    const BrushHandle fill(CreateSolidBrush(kUntouched));
    FillRect(dc_.get(), &all, fill.get());
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas() { SelectObject(dc_.get(), previous_); }
  HDC dc() const { return dc_.get(); }
  COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }

 private:
  MemoryDc dc_;
  BitmapHandle bitmap_;
  HGDIOBJ previous_ = nullptr;
};

class WindowLook : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WindowDpi(window_.handle()), kStandardDpi); }

  LOGFONTW FontOf(int id) const {
    LOGFONTW font{};
    const auto handle =
        reinterpret_cast<HFONT>(SendMessageW(window_.Control(id), WM_GETFONT, 0, 0));
    EXPECT_NE(handle, nullptr);
    if (handle) GetObjectW(handle, sizeof font, &font);
    return font;
  }

  COLORREF TextColourOf(int id) const {
    Canvas canvas(1, 1);
    const LRESULT brush =
        SendMessageW(window_.handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(canvas.dc()),
                     reinterpret_cast<LPARAM>(window_.Control(id)));
    EXPECT_NE(brush, 0) << "no background brush for control " << id;
    return GetTextColor(canvas.dc());
  }

  MainWindow window_{GetModuleHandleW(nullptr)};
};

TEST_F(WindowLook, ControlsUseTheirDesignedFonts) {
  struct Expected {
    int id;
    const wchar_t* face;
    LONG height;  // pixels at 96 DPI: points * 96 / 72
    LONG weight;
  };
  for (const Expected& expected : {Expected{kLabel2Id, L"Courier New", -15, FW_BOLD},
                                   Expected{kTxtFilePathId, L"Courier New", -13, FW_NORMAL},
                                   Expected{kLabel4Id, L"Courier New", -11, FW_NORMAL},
                                   Expected{kLblWaitId, L"MS Sans Serif", -16, FW_BOLD}}) {
    SCOPED_TRACE(expected.id);
    const LOGFONTW font = FontOf(expected.id);
    EXPECT_STREQ(font.lfFaceName, expected.face);
    EXPECT_EQ(font.lfHeight, expected.height);
    EXPECT_EQ(font.lfWeight, expected.weight);
    EXPECT_FALSE(font.lfItalic);
  }
  // The button keeps the font the system uses for dialogs.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  EXPECT_STREQ(FontOf(kCmdUpdateId).lfFaceName, metrics.lfMessageFont.lfFaceName);
  EXPECT_EQ(FontOf(kCmdUpdateId).lfHeight, metrics.lfMessageFont.lfHeight);
}

TEST_F(WindowLook, TitleAndPromptAreBlueAndTheBusyLabelKeepsTheDefaultColour) {
  EXPECT_EQ(TextColourOf(kLabel2Id), RGB(0, 0, 255));
  EXPECT_EQ(TextColourOf(kLabel4Id), RGB(0, 0, 255));
  EXPECT_EQ(TextColourOf(kLblWaitId), GetSysColor(COLOR_WINDOWTEXT));
}

TEST_F(WindowLook, FlagIsDrawnUnscaledAtTheTopLeftOfTheClientArea) {
  Canvas canvas(447, 182);
  SendMessageW(window_.handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
  for (int y : {0, 30, 55}) {
    SCOPED_TRACE(y);
    EXPECT_EQ(canvas.At(0, y), kFlagGreen);
    EXPECT_EQ(canvas.At(24, y), kFlagGreen);
    EXPECT_EQ(canvas.At(25, y), kWhite);
    EXPECT_EQ(canvas.At(49, y), kWhite);
    EXPECT_EQ(canvas.At(50, y), kFlagRed);
    EXPECT_EQ(canvas.At(74, y), kFlagRed);
    EXPECT_EQ(canvas.At(75, y), kUntouched);
  }
  EXPECT_EQ(canvas.At(0, 56), kUntouched);
}

TEST_F(WindowLook, WindowCarriesTheProgramIcon) {
  EXPECT_NE(GetClassLongPtrW(window_.handle(), GCLP_HICON), 0u);
  EXPECT_NE(GetClassLongPtrW(window_.handle(), GCLP_HICONSM), 0u);
}

TEST(FlagPainter, FlagGrowsWithTheDpiKeepingSharpBands) {
  const BitmapHandle flag(
      static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_FLAG),
                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  ASSERT_TRUE(flag);
  Canvas canvas(200, 150);
  DrawFlag(canvas.dc(), flag.get(), 2 * kStandardDpi);
  EXPECT_EQ(canvas.At(49, 111), kFlagGreen);
  EXPECT_EQ(canvas.At(50, 111), kWhite);
  EXPECT_EQ(canvas.At(99, 0), kWhite);
  EXPECT_EQ(canvas.At(100, 0), kFlagRed);
  EXPECT_EQ(canvas.At(149, 111), kFlagRed);
  EXPECT_EQ(canvas.At(150, 0), kUntouched);
  EXPECT_EQ(canvas.At(0, 112), kUntouched);
}

TEST_F(WindowLook, ControlsFontsAndFlagFollowAMoveToAScreenOfDoubleDpi) {
  RECT suggested{0, 0, 900, 370};
  SendMessageW(window_.handle(), kDpiChangedMessage, MAKEWPARAM(192, 192),
               reinterpret_cast<LPARAM>(&suggested));
  RECT title{};
  GetWindowRect(window_.Control(kLabel2Id), &title);
  MapWindowPoints(nullptr, window_.handle(), reinterpret_cast<POINT*>(&title), 2);
  // 1320, 120, 5415 x 495 twips at 7.5 twips a pixel.
  EXPECT_EQ(title.left, 176);
  EXPECT_EQ(title.top, 16);
  EXPECT_EQ(title.right - title.left, 722);
  EXPECT_EQ(title.bottom - title.top, 66);
  EXPECT_EQ(FontOf(kLabel2Id).lfHeight, -30);
  EXPECT_EQ(FontOf(kLblWaitId).lfHeight, -32);
  // The flag is painted at the window's new DPI too, whatever the system says about its own.
  Canvas canvas(200, 150);
  SendMessageW(window_.handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
  EXPECT_EQ(canvas.At(149, 111), kFlagRed);
  EXPECT_EQ(canvas.At(150, 0), kUntouched);
  EXPECT_EQ(canvas.At(0, 112), kUntouched);
}

int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

TEST(WindowWithoutPerMonitorDpi, TakesTheSystemDpiFrameAndFontAsWindowsXpGivesThem) {
  // As on Windows XP to 8.1 and 10 before 1607, which lack the per-monitor DPI functions.
  testing::GivenNewerFunctions windowsXp(false);
  const int dpi = SystemDpi();
  const MainWindow window(GetModuleHandleW(nullptr), windowsXp);
  EXPECT_EQ(WindowDpi(window.handle(), windowsXp), dpi);
  RECT client{};
  GetClientRect(window.handle(), &client);
  EXPECT_EQ(client.right, TwipsToPixels(kClientWidthTwips, dpi));
  EXPECT_EQ(client.bottom, TwipsToPixels(kClientHeightTwips, dpi));

  // The frame is the system's whatever DPI is asked for.
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, 300, 200};
  ASSERT_TRUE(AdjustWindowRectEx(&frame, kStyle, FALSE, 0));
  const RECT atDoubleDpi = WindowRectForClient(300, 200, kStyle, 0, 2 * dpi, windowsXp);
  EXPECT_EQ(atDoubleDpi.left, frame.left);
  EXPECT_EQ(atDoubleDpi.top, frame.top);
  EXPECT_EQ(atDoubleDpi.right, frame.right);
  EXPECT_EQ(atDoubleDpi.bottom, frame.bottom);

  // The message font is measured at the system DPI and scaled to the one asked for.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  const LOGFONTW font = SystemMessageFont(2 * dpi, windowsXp);
  EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
  EXPECT_EQ(font.lfHeight, 2 * metrics.lfMessageFont.lfHeight);
}

// The name a screen reader reads for a control, from the system's accessibility library. It is
// loaded, not imported, so that the test program needs no DLL the shipped one does not.
std::wstring AccessibleNameOf(HWND control) {
  const HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
  if (!oleacc) return L"<no oleacc.dll>";
  using ObjectFromWindowFunction = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
  const auto objectFromWindow = reinterpret_cast<ObjectFromWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(oleacc, "AccessibleObjectFromWindow")));
  IAccessible* accessible = nullptr;
  std::wstring name = L"<no accessible object>";
  if (objectFromWindow && SUCCEEDED(objectFromWindow(control, OBJID_CLIENT, __uuidof(IAccessible),
                                                     reinterpret_cast<void**>(&accessible)))) {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    name = SUCCEEDED(accessible->get_accName(self, &text)) && text ? text : L"<no name>";
    SysFreeString(text);
    accessible->Release();
  }
  FreeLibrary(oleacc);
  return name;
}

TEST_F(WindowLook, ScreenReadersNameThePathBoxByItsPromptAndTheButtonByItsText) {
  EXPECT_EQ(AccessibleNameOf(window_.Control(kTxtFilePathId)),
            L"Please Enter the Path of the Quorvik Executable Program:");
  EXPECT_EQ(AccessibleNameOf(window_.Control(kCmdUpdateId)), L"Perform Update");
}

// Presses a key in the path box with Ctrl held or not, through the window's own key handling.
void PressInPathBox(MainWindow& window, WPARAM key, bool control) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  const BYTE saved = keys[VK_CONTROL];
  keys[VK_CONTROL] = control ? 0x80 : 0;
  SetKeyboardState(keys);
  MSG message{window.Control(kTxtFilePathId), WM_KEYDOWN, key, 1, 0, {}};
  if (!window.PreTranslateMessage(message)) DispatchMessageW(&message);
  keys[VK_CONTROL] = saved;
  SetKeyboardState(keys);
}

TEST_F(WindowLook, CtrlASelectsThePathBoxText) {
  const HWND pathBox = window_.Control(kTxtFilePathId);
  const auto length = static_cast<DWORD>(GetWindowTextLengthW(pathBox));
  SendMessageW(pathBox, EM_SETSEL, 2, 2);
  DWORD start = 0;
  DWORD end = 0;

  PressInPathBox(window_, 'A', false);
  SendMessageW(pathBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(end, 2u);

  PressInPathBox(window_, 'A', true);
  SendMessageW(pathBox, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, length);
}

}  // namespace
}  // namespace quorvik
