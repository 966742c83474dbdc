#pragma once

#include <filesystem>
#include <span>
#include <string_view>

namespace quorvik {

// Runs the command the arguments (after the program name) ask for, writes its results to the
// standard output and its errors to the standard error, and returns the exit code.
int RunCompanion(std::span<const std::filesystem::path> arguments);

// Writes UTF-8 text to the standard output or error stream, in the form the stream's reader
// expects. Output to a stream that is closed or missing is dropped: the exit code still tells.
// One implementation per platform, in platform_posix.cpp and platform_win32.cpp.
void WriteStdout(std::string_view utf8);
void WriteStderr(std::string_view utf8);

}  // namespace quorvik
