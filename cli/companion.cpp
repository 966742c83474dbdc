#include "companion.h"

#include <exception>
#include <string>
#include <string_view>
#include <variant>

#include "check_report.h"
#include "command_line.h"
#include "file_commands.h"
#include "file_error.h"
#include "outcome_text.h"
#include "quorvik_version.h"
#include "run_log.h"
#include "user_path.h"

namespace quorvik {
namespace {

// Exit codes of a run that failed or never began.
constexpr int kFailure = 1;  // reading or rewriting failed; the message tells what became of it
constexpr int kUsage = 2;

// How a command ended: its exit code and what that means in words, for the log. A deployment
// script may treat exit codes 0 and 5 alike.
struct CommandEnd {
  int exitCode;
  std::string_view words;
};
constexpr CommandEnd kUpdated{0, "updated"};
constexpr CommandEnd kReadyToUpdate{0, "ready to update"};
constexpr CommandEnd kReverted{0, "reverted"};
constexpr CommandEnd kShown{0, "shown"};
constexpr CommandEnd kInvalidPath{3, "invalid path"};
constexpr CommandEnd kNotExpectedFile{4, "not the expected file"};
constexpr CommandEnd kRevertRefused{4, "revert refused"};
constexpr CommandEnd kAlreadyUpdated{5, "already updated"};

constexpr std::string_view kVersionText = "quorvik-patch " QUORVIK_VERSION_TEXT "\n";

constexpr std::string_view kHelpText =
    "Usage: quorvik-patch COMMAND [OPTIONS] PATH\n"
    "Turns the Quorvik 2000 program file at PATH from English into Italian, as the\n"
    "Quorvik 2000 Italian Language Patch window does, or tells what a patch would meet.\n"
    "Outcomes go to standard output, failures and usage errors to standard error.\n"
    "\n"
    "Commands:\n"
    "  patch PATH           update the file, all or nothing\n"
    "    --backup           first keep the original as PATH.orig, kept only when the\n"
    "                       file was updated; an existing PATH.orig is never replaced:\n"
    "                       one that holds the original is kept, any other refused\n"
    "  check PATH           change nothing; list for each of the eleven texts whether it\n"
    "                       is required and the offset (hexadecimal) where a patch would\n"
    "                       replace it, then a verdict: ready to update, already updated\n"
    "                       or not the expected file\n"
    "    --json             print the same as one JSON object\n"
    "  revert PATH          turn an updated file back into English, only when patching\n"
    "                       the result would give back exactly the file as it is.\n"
    "                       A file that already held Italian texts before it was patched\n"
    "                       cannot be told apart, and is reverted at the first places found.\n"
    "  --log FILE           also append one line about the run to FILE (UTC time,\n"
    "                       computer, command, path, outcome, exit code), creating it\n"
    "                       and its folder if needed; a log that cannot be written does\n"
    "                       not fail the run, but one that is a link or has more than\n"
    "                       one name is refused (exit code 2, nothing done)\n"
    "  --help               show this text\n"
    "  --version            show the version\n"
    "  --                   end of options, for a PATH that begins with '-'\n"
    "\n"
    "Exit codes:\n"
    "  0  updated (patch), ready to update (check), reverted (revert)\n"
    "  1  reading or rewriting failed; unless the message says otherwise, the file is\n"
    "     unchanged\n"
    "  2  usage error, or a log refused\n"
    "  3  the path is invalid\n"
    "  4  not the expected file (patch, check), or refused (revert)\n"
    "  5  the file is already updated (patch, check)\n";

// The window's own words for the outcome of a patch run, as one line.
std::string OutcomeLine(PatchOutcome outcome) {
  return std::string(TextForOutcome(outcome).text) + "\n";
}

// The window's words for an invalid path, and why the path may be invalid where this program
// cannot see the drive it names.
std::string InvalidPathText(const std::filesystem::path& path) {
  std::string text = OutcomeLine(PatchOutcome::InvalidPath);
  if (const std::optional<char> drive = DriveUnseenWhenElevated(path)) {
    text.append("Drive ").append(1, *drive).append(
        ": does not exist for this program, which runs as administrator. Drives mapped in your "
        "normal session are not visible to programs run as administrator: give the path in its "
        "\\\\server\\share\\... form instead.\n");
  }
  return text;
}

CommandEnd ReportInvalidPath(const std::filesystem::path& path) {
  WriteStdout(InvalidPathText(path));
  return kInvalidPath;
}

int ReportUsageError(const UsageError& error) {
  WriteStderr("quorvik-patch: " + error.message + "\n");
  WriteStderr("Try 'quorvik-patch --help' for more information.\n");
  return kUsage;
}

CommandEnd RunPatch(const Invocation& invocation) {
  const std::filesystem::path backup = BackupPathFor(invocation.path);
  const PatchResult result =
      PatchFile(invocation.path, invocation.backup ? std::optional(backup) : std::nullopt);
  switch (result.outcome) {
    case PatchOutcome::Completed:
      WriteStdout(OutcomeLine(result.outcome));
      if (invocation.backup)
        WriteStdout("The original is kept as \"" + PathToUtf8(backup) + "\".\n");
      return kUpdated;
    case PatchOutcome::InvalidPath:
      return ReportInvalidPath(invocation.path);
    case PatchOutcome::CannotUpdate:
      break;
  }
  WriteStdout(OutcomeLine(result.outcome));
  if (result.alreadyUpdated) {
    WriteStdout("The file is already updated.\n");
    return kAlreadyUpdated;
  }
  WriteStdout(
      "The file is not the expected program file: 'quorvik-patch check' lists the texts it "
      "lacks.\n");
  return kNotExpectedFile;
}

CommandEnd RunCheck(const Invocation& invocation) {
  std::optional<FileCheck> check;
  try {
    check = CheckFile(invocation.path);
  } catch (const std::exception& failure) {
    // Reported on the standard error as for any command; a JSON reader still gets its object.
    if (invocation.json) WriteStdout(UncheckedReportJson("failed", failure.what()));
    throw;
  }
  if (!check && invocation.json) {
    std::string why = InvalidPathText(invocation.path);
    why.pop_back();  // the line end
    WriteStdout(UncheckedReportJson(kInvalidPath.words, why));
    return kInvalidPath;
  }
  if (!check) return ReportInvalidPath(invocation.path);
  WriteStdout(invocation.json ? CheckReportJson(*check) : CheckReportText(*check));
  switch (check->verdict) {
    case CheckVerdict::ReadyToUpdate:
      return kReadyToUpdate;
    case CheckVerdict::AlreadyUpdated:
      return kAlreadyUpdated;
    case CheckVerdict::NotExpectedFile:
      break;
  }
  return kNotExpectedFile;
}

CommandEnd RunRevert(const Invocation& invocation) {
  switch (RevertRun(invocation.path)) {
    case RevertOutcome::Reverted:
      WriteStdout("Revert is complete!\n");
      return kReverted;
    case RevertOutcome::InvalidPath:
      return ReportInvalidPath(invocation.path);
    case RevertOutcome::NotUpdated:
      WriteStdout("Can not revert.  The file does not hold every Italian text of an update.\n");
      return kRevertRefused;
    case RevertOutcome::NotReversible:
      break;
  }
  WriteStdout(
      "Can not revert.  Patching the reverted file would not give back this file exactly,"
      " so which texts to change back is uncertain.\n");
  return kRevertRefused;
}

CommandEnd Run(const Invocation& invocation) {
  switch (invocation.command) {
    case Command::Patch:
      return RunPatch(invocation);
    case Command::Check:
      return RunCheck(invocation);
    case Command::Revert:
      return RunRevert(invocation);
    case Command::Version:
      WriteStdout(kVersionText);
      return kShown;
    case Command::Help:
      break;
  }
  WriteStdout(kHelpText);
  return kShown;
}

// The arguments as given, for the log of a command line that could not be read.
std::string ArgumentsText(std::span<const std::filesystem::path> arguments) {
  std::string text;
  for (const std::filesystem::path& argument : arguments) {
    text += (text.empty() ? "" : " ") + PathToUtf8(argument);
  }
  return text;
}

// Runs the invocation and tells how it ended, for the log as well as the exit code.
RunRecord RunAndRecord(const std::variant<Invocation, UsageError>& parsed,
                       std::span<const std::filesystem::path> arguments) {
  if (const UsageError* error = std::get_if<UsageError>(&parsed)) {
    return {.command = ArgumentsText(arguments),
            .outcome = "usage error: " + error->message,
            .exitCode = ReportUsageError(*error)};
  }
  Invocation invocation = std::get<Invocation>(parsed);
  invocation.path = PathAsEntered(invocation.path);
  RunRecord record{.command = CommandText(invocation), .path = invocation.path};
  try {
    const CommandEnd end = Run(invocation);
    record.exitCode = end.exitCode;
    record.outcome = end.words;
  } catch (const std::exception& failure) {
    // FileError's text names the operation, the file and the system's reason.
    WriteStderr("quorvik-patch: " + std::string(failure.what()) + "\n");
    record.exitCode = kFailure;
    record.outcome = "failed: " + std::string(failure.what());
  }
  return record;
}

}  // namespace

int RunCompanion(std::span<const std::filesystem::path> arguments) {
  try {
    const LogOption log = TakeLogOption(arguments);
    std::optional<RunLog> runLog;
    try {
      if (log.file) runLog = OpenRunLog(*log.file);
    } catch (const LogRefused& refused) {
      WriteStderr("quorvik-patch: " + std::string(refused.what()) + "; nothing was done\n");
      return kUsage;
    }
    const RunRecord record =
        RunAndRecord(log.error ? std::variant<Invocation, UsageError>(*log.error)
                               : ParseCommandLine(log.otherArguments),
                     log.otherArguments);
    if (runLog) AppendToRunLog(*runLog, record);
    return record.exitCode;
  } catch (const std::exception& failure) {
    WriteStderr("quorvik-patch: " + std::string(failure.what()) + "\n");
    return kFailure;
  }
}

}  // namespace quorvik
