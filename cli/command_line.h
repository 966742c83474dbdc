#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <variant>

namespace quorvik {

enum class Command { Patch, Check, Revert, Help, Version };

struct Invocation {
  Command command = Command::Help;
  std::filesystem::path path;  // the target file, exactly as given
  bool json = false;           // check: print the report as JSON
  bool backup = false;         // patch: keep the original as PATH.orig
};

struct UsageError {
  std::string message;  // UTF-8
};

// Reads the arguments after the program name. "--help" or "--version" anywhere wins; "--" ends
// the options, so that a PATH may begin with "-".
std::variant<Invocation, UsageError> ParseCommandLine(
    std::span<const std::filesystem::path> arguments);

}  // namespace quorvik
