#pragma once

#include <filesystem>
#include <span>

namespace quorvik {

// Runs the command the arguments (after the program name) ask for, writes its results to the
// standard output and its errors to the standard error, and returns the exit code.
int RunCompanion(std::span<const std::filesystem::path> arguments);

}  // namespace quorvik
