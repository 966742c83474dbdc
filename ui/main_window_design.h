#pragma once

#include <windows.h>

#include <array>
#include <optional>

namespace quorvik {

// Control identifiers of frmMain's children. They stay clear of IDOK and IDCANCEL, which
// IsDialogMessage sends for Enter and Esc: the window has no default or cancel button.
inline constexpr int kLabel2Id = 1001;
inline constexpr int kTxtFilePathId = 1002;
inline constexpr int kLabel4Id = 1003;
inline constexpr int kCmdUpdateId = 1004;
inline constexpr int kLblWaitId = 1005;

inline constexpr wchar_t kMainWindowCaption[] = L"[_ Quorvik 2000 _|";
inline constexpr wchar_t kDefaultTargetPath[] = L"C:\\Programmi\\Quorvik\\Quorvik.exe";

// The client area in twips (1/1440 inch).
inline constexpr int kClientWidthTwips = 6705;
inline constexpr int kClientHeightTwips = 2730;

struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

struct FontDesign {
  const wchar_t* face;
  int centiPoints;  // hundredths of a point, so that 11.25 pt stays exact
  bool bold;
};

enum class ControlKind { Label, TextBox, PushButton };

struct ControlDesign {
  int id;
  ControlKind kind;
  const wchar_t* text;
  TwipsRect twips;
  std::optional<FontDesign> font;      // none: the system's message font
  std::optional<COLORREF> textColour;  // none: the system's default
  bool visibleAtStart;
};

inline constexpr COLORREF kBlue = RGB(0, 0, 255);

// The controls in the order they are created in, which is their Z order. Tab walks it, stopping at
// the box and the button only. A screen reader names an edit box after the label just before it,
// so the prompt comes right before the box.
inline constexpr std::array<ControlDesign, 5> kMainWindowControls = {{
    {kLabel2Id,
     ControlKind::Label,
     L"Quorvik 2000 Italian Language Patch",
     {1320, 120, 5415, 495},
     FontDesign{L"Courier New", 1125, true},
     kBlue,
     true},
    {kLabel4Id,
     ControlKind::Label,
     L"Please Enter the Path of the Quorvik Executable Program:",
     {0, 960, 6735, 375},
     FontDesign{L"Courier New", 825, false},
     kBlue,
     true},
    {kTxtFilePathId,
     ControlKind::TextBox,
     kDefaultTargetPath,
     {240, 1440, 6255, 375},
     FontDesign{L"Courier New", 975, false},
     std::nullopt,
     true},
    {kCmdUpdateId,
     ControlKind::PushButton,
     L"Perform Update",
     {2280, 2160, 1935, 375},
     std::nullopt,
     std::nullopt,
     true},
    {kLblWaitId,
     ControlKind::Label,
     L"Please Wait...",
     {4560, 2160, 2055, 255},
     FontDesign{L"MS Sans Serif", 1200, true},
     std::nullopt,
     false},
}};

}  // namespace quorvik
