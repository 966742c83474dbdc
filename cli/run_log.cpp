#include "run_log.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "companion.h"
#include "file_error.h"

namespace quorvik {
namespace {

std::string Formatted(const UtcTime& time) {
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return text;
}

void ReportLogNotWritten(const std::filesystem::path& log, const std::string& reason) {
  WriteStderr("quorvik-patch: the log \"" + PathToUtf8(log) + "\" could not be written: " + reason +
              "\n");
}

}  // namespace

std::string RunLogLine(const RunRecord& record) {
  const std::string computer = ComputerName();
  return Formatted(UtcTimeNow()) + "  " + (computer.empty() ? "-" : computer) + "  " +
         record.command + "  \"" + PathToUtf8(record.path) + "\"  " + record.outcome + "  (exit " +
         std::to_string(record.exitCode) + ")";
}

std::optional<RunLog> OpenRunLog(const std::filesystem::path& log) {
  try {
    const std::filesystem::path folder = log.parent_path();
    std::error_code error;
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (error) {
      ReportLogNotWritten(log, "its folder could not be created: " + error.message());
      return std::nullopt;
    }
    return RunLog{.file = log, .handle = OpenLogFile(log)};
  } catch (const LogRefused&) {
    throw;
  } catch (const std::exception& failure) {
    ReportLogNotWritten(log, failure.what());
    return std::nullopt;
  }
}

void AppendToRunLog(const RunLog& log, const RunRecord& record) {
  try {
    AppendLine(log.handle, log.file, RunLogLine(record));
  } catch (const std::exception& failure) {
    ReportLogNotWritten(log.file, failure.what());
  }
}

}  // namespace quorvik
