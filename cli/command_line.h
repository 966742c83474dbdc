#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

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

// "--log FILE", wherever it stands before "--" (deployment tools put their own options first),
// and the arguments without it.
struct LogOption {
  std::optional<std::filesystem::path> file;
  std::vector<std::filesystem::path> otherArguments;
  std::optional<UsageError> error;  // "--log" without a FILE, or given twice
};
LogOption TakeLogOption(std::span<const std::filesystem::path> arguments);

// The command and its options as a log shows them: "patch --backup", "check --json".
std::string CommandText(const Invocation& invocation);

// Reads the arguments after the program name, less any "--log FILE". "--help" or "--version"
// anywhere wins; "--" ends the options, so that a PATH may begin with "-".
std::variant<Invocation, UsageError> ParseCommandLine(
    std::span<const std::filesystem::path> arguments);

}  // namespace quorvik
