#include "command_line.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "file_error.h"

namespace quorvik {
namespace {

constexpr std::string_view kEndOfOptions = "--";

// Compares without converting, so that an argument that is no valid text still compares.
bool Is(const std::filesystem::path& argument, std::string_view ascii) {
  return std::ranges::equal(argument.native(), ascii,
                            [](auto a, char b) { return a == static_cast<unsigned char>(b); });
}

bool LooksLikeOption(const std::filesystem::path& argument) {
  return argument.native().size() > 1 && argument.native().front() == '-';
}

std::string Quoted(const std::filesystem::path& argument) {
  return "'" + PathToUtf8(argument) + "'";
}

std::optional<Command> CommandNamed(const std::filesystem::path& word) {
  if (Is(word, "patch")) return Command::Patch;
  if (Is(word, "check")) return Command::Check;
  if (Is(word, "revert")) return Command::Revert;
  return std::nullopt;
}

std::optional<Command> HelpOrVersion(std::span<const std::filesystem::path> arguments) {
  for (const std::filesystem::path& argument : arguments) {
    if (Is(argument, kEndOfOptions)) break;
    if (Is(argument, "--help") || Is(argument, "-h")) return Command::Help;
    if (Is(argument, "--version")) return Command::Version;
  }
  return std::nullopt;
}

}  // namespace

LogOption TakeLogOption(std::span<const std::filesystem::path> arguments) {
  LogOption option;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::filesystem::path& argument = arguments[i];
    if (Is(argument, kEndOfOptions)) optionsEnded = true;
    if (optionsEnded || !Is(argument, "--log")) {
      option.otherArguments.push_back(argument);
    } else if (i + 1 == arguments.size() || arguments[i + 1].empty() ||
               Is(arguments[i + 1], kEndOfOptions)) {
      option.error = UsageError{"'--log' needs the FILE to append to"};
    } else if (option.file) {
      option.error = UsageError{"'--log' given more than once"};
    } else {
      option.file = arguments[++i];
    }
  }
  return option;
}

std::string CommandText(const Invocation& invocation) {
  switch (invocation.command) {
    case Command::Patch:
      return invocation.backup ? "patch --backup" : "patch";
    case Command::Check:
      return invocation.json ? "check --json" : "check";
    case Command::Revert:
      return "revert";
    case Command::Version:
      return "--version";
    case Command::Help:
      break;
  }
  return "--help";
}

std::variant<Invocation, UsageError> ParseCommandLine(
    std::span<const std::filesystem::path> arguments) {
  if (const std::optional<Command> command = HelpOrVersion(arguments)) {
    return Invocation{.command = *command};
  }
  if (arguments.empty()) return UsageError{"no command given"};
  const std::optional<Command> command = CommandNamed(arguments.front());
  if (!command) {
    return UsageError{
        (LooksLikeOption(arguments.front()) ? "unknown option " : "unknown command ") +
        Quoted(arguments.front())};
  }

  Invocation invocation{.command = *command};
  bool pathGiven = false;
  bool optionsEnded = false;
  for (const std::filesystem::path& argument : arguments.subspan(1)) {
    if (!optionsEnded && Is(argument, kEndOfOptions)) {
      optionsEnded = true;
    } else if (!optionsEnded && Is(argument, "--json") && *command == Command::Check) {
      invocation.json = true;
    } else if (!optionsEnded && Is(argument, "--backup") && *command == Command::Patch) {
      invocation.backup = true;
    } else if (!optionsEnded && LooksLikeOption(argument)) {
      return UsageError{"unknown option " + Quoted(argument) + " for " + Quoted(arguments.front())};
    } else if (pathGiven) {
      return UsageError{"more than one PATH given: " + Quoted(argument)};
    } else {
      invocation.path = argument;
      pathGiven = true;
    }
  }
  if (!pathGiven) return UsageError{Quoted(arguments.front()) + " needs the PATH of a file"};
  return invocation;
}

}  // namespace quorvik
