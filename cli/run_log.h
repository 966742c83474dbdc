#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvik {

// One run of the companion, as its log records it.
struct RunRecord {
  std::string command;         // the command and its options, "patch --backup"
  std::filesystem::path path;  // the target file, as given
  std::string outcome;         // in words: "updated", "failed: Could not replace ..."
  int exitCode = 0;
};

// The record as one line (without its end): local time with the zone's offset from UTC, the
// command, the path in double quotes (which no Windows file name contains) and the outcome:
//   2026-12-09 16:40:12 +01:00  patch --backup  "C:\Programmi\Quorvik\Quorvik.exe"  updated  (exit
//   0)
std::string RunLogLine(const RunRecord& record);

// Appends the record's line to the log file `log`, creating the file and its folders if needed.
// Never fails the run: when the log cannot be written, says so on the standard error instead.
void AppendToRunLog(const std::filesystem::path& log, const RunRecord& record);

// The platform's part.

struct LocalTime {
  int year, month, day, hour, minute, second;
  int minutesEastOfUtc;  // the zone's offset at that moment, daylight saving time included
};
LocalTime LocalTimeNow();

// Appends `line` and the platform's line end in one write, so that runs writing to the same log
// at once (from many machines, to a share) never interleave within a line. Creates the file,
// not its folder. Throws FileError.
void AppendLineToFile(const std::filesystem::path& file, std::string_view line);

}  // namespace quorvik
