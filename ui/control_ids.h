#pragma once

namespace quorvik {

// Control identifiers of frmMain's children. They stay clear of IDOK and IDCANCEL, which
// IsDialogMessage sends for Enter and Esc: the window has no default or cancel button.
inline constexpr int kLabel2Id = 1001;
inline constexpr int kTxtFilePathId = 1002;
inline constexpr int kLabel4Id = 1003;
inline constexpr int kCmdUpdateId = 1004;
inline constexpr int kLblWaitId = 1005;

}  // namespace quorvik
