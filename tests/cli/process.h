#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace quorvik::testing {

struct ProcessResult {
  int exitCode = -1;
  std::string out;  // standard output, as bytes
  std::string err;  // standard error, as bytes
};

// Runs `program` with `arguments`, with no terminal or console attached: standard input reads
// nothing, and both output streams go to pipes. Throws std::runtime_error when the program does
// not start or has not ended within a generous bound (it is then killed).
ProcessResult RunProgram(const std::filesystem::path& program,
                         std::span<const std::filesystem::path> arguments);

// Has the programs this process starts from now on run in the time zone `posixZone` ("UTC0",
// "NPT-5:45"). False where the platform's programs take the zone from the system's settings
// instead (Windows), which a test cannot change for one program.
bool StartProgramsInTimeZone(const char* posixZone);

}  // namespace quorvik::testing
