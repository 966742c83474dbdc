#pragma once

// Windows only: the steps of a safe rewrite (FileOps) on Windows.
#include <memory>

#include "file_in_use_win32.h"
#include "file_metadata_win32.h"
#include "platform.h"
#include "win32_support.h"

namespace quorvik {

// The Windows FileOps, reading and giving metadata through `metadata`, finding the functions
// newer than Windows XP through `newer`, and waiting for a file in use with `pause`:
// NativeFileOps() is the one over the system's own, and tests give others to see what Wine never
// shows, or to let go of a file they hold during a pause rather than wait.
std::unique_ptr<FileOps> Win32FileOpsWith(MetadataCalls& metadata, NewerSystemFunctions& newer,
                                          InUsePause pause = WaitingPause());

}  // namespace quorvik
