#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "file_error.h"
#include "platform.h"

namespace quorvik {

// One run of the companion, as its log records it.
struct RunRecord {
  std::string command;         // the command and its options, "patch --backup"
  std::filesystem::path path;  // the target file, as given
  std::string outcome;         // in words: "updated", "failed: Could not replace ..."
  int exitCode = 0;
};

// The record as one line (without its end): the time in UTC (ISO 8601) and the computer's name,
// so that a log shared by many machines tells them apart, then the command, the path in double
// quotes (which no Windows file name contains) and the outcome:
//   2026-12-09T15:40:12Z  PC-0042  patch --backup  "C:\Programmi\Quorvik\Quorvik.exe"  updated
//   (exit 0)
std::string RunLogLine(const RunRecord& record);

// A log that is never written to: a symbolic link or other reparse point at the log's name,
// which could lead to any file, one with more than one name, which is also another file, or no
// regular file. A run given such a log is refused before it does anything.
class LogRefused : public FileError {
 public:
  using FileError::FileError;
};

// The log file, held open from before the run until its line is written, so that the line goes
// to the very file that was checked.
struct RunLog {
  std::filesystem::path file;
  NativeFile handle;
};

// Opens the log file `log` for appending, creating the file and its folders if needed. Throws
// LogRefused for a log that is never written to. Any other failure does not fail the run: it is
// said on the standard error, and the run goes on without a log (nullopt).
std::optional<RunLog> OpenRunLog(const std::filesystem::path& log);

// Appends the record's line to the log. Never fails the run: when the line cannot be written,
// says so on the standard error instead.
void AppendToRunLog(const RunLog& log, const RunRecord& record);

// The platform's part.

struct UtcTime {
  int year, month, day, hour, minute, second;
};
UtcTime UtcTimeNow();

// The name this computer goes by on its network (Windows: the one %COMPUTERNAME% gives), UTF-8;
// empty when the system does not tell.
std::string ComputerName();

// Opens `file` for appending, creating it (not its folder) when missing, without following a
// symbolic link or reparse point at its name. Throws LogRefused for a log that is never written
// to, FileError for any other failure.
NativeFile OpenLogFile(const std::filesystem::path& file);

// Appends `line` and the platform's line end in one write, so that runs writing to the same log
// at once (from many machines, to a share) never interleave within a line. Throws FileError.
void AppendLine(const NativeFile& log, const std::filesystem::path& file, std::string_view line);

}  // namespace quorvik
