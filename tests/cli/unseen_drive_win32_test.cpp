// A path on a drive letter that this process does not have: run elevated, the drive may well be
// one mapped in the user's normal session, which elevated programs do not see, and the
// companion says so. Whether the test runs elevated decides what to expect (Wine runs every
// program elevated); the decision itself is tested with a stand-in session in the engine's tests.
#include <windows.h>

#include "companion_fixture.h"
#include "user_path.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using UnseenDriveTest = CompanionTest;

// A drive letter that names no drive for this process.
char MissingDrive() {
  const DWORD drives = GetLogicalDrives();
  for (char letter = 'Y'; letter > 'C'; --letter) {
    if (((drives >> (letter - 'A')) & 1) == 0) return letter;
  }
  return 0;
}

TEST_F(UnseenDriveTest, APathOnAMissingDriveIsInvalidAndElevatedTheMessageSaysWhy) {
  const char drive = MissingDrive();
  ASSERT_NE(drive, 0) << "every drive letter is taken";
  const fs::path path = std::string(1, drive) + ":\\Programmi\\Quorvik\\Quorvik.exe";
  std::string expected = std::string(kInvalidPathText) + "\n";
  if (NativeSessionView().IsElevated()) {
    expected += std::string("Drive ") + drive +
                ": does not exist for this program, which runs as administrator. Drives mapped "
                "in your normal session are not visible to programs run as administrator: give "
                "the path in its \\\\server\\share\\... form instead.\n";
  }
  for (const char* command : {"patch", "check", "revert"}) {
    const ProcessResult result = Run({command, path});
    EXPECT_EQ(result.exitCode, 3) << command;
    EXPECT_EQ(result.out, expected) << command;
    EXPECT_EQ(result.err, "") << command;
  }
}

}  // namespace
}  // namespace quorvik::testing
