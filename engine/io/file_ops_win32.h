#pragma once

// Windows only: the steps of a safe rewrite (FileOps) on Windows.
#include <memory>

#include "file_metadata_win32.h"
#include "platform.h"
#include "win32_support.h"

namespace quorvik {

// The Windows FileOps, reading and giving metadata through `metadata` and finding the functions
// newer than Windows XP through `newer`: NativeFileOps() is the one over the system's own, and
// tests give others to see what Wine never shows.
std::unique_ptr<FileOps> Win32FileOpsWith(MetadataCalls& metadata, NewerSystemFunctions& newer);

}  // namespace quorvik
