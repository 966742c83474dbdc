// quorvik-patch --log FILE: one line per run, for deployment tools to collect.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>

#include "companion_fixture.h"
#include "file_error.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using RunLogTest = CompanionTest;

// UTC time, the computer's name, then what the run was: "2026-12-09T15:40:12Z  PC-0042  patch ..."
const std::regex kLogLine(R"(^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z  (\S+)  (.*)$)");

struct LogEntry {
  std::int64_t utcSeconds;
  std::string computer;
  std::string rest;  // command, path, outcome and exit code
};

std::vector<LogEntry> ReadLog(const fs::path& log) {
  std::vector<LogEntry> entries;
  const Bytes bytes = ReadBytes(log);
  for (std::string line : Lines(std::string(bytes.begin(), bytes.end()))) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, kLogLine)) << line;
    if (match.empty()) continue;
    const auto number = [&](int group) { return std::stoi(match[group].str()); };
    const std::chrono::sys_days day{std::chrono::year(number(1)) /
                                    std::chrono::month(static_cast<unsigned>(number(2))) /
                                    std::chrono::day(static_cast<unsigned>(number(3)))};
    entries.push_back(
        {.utcSeconds =
             std::chrono::duration_cast<std::chrono::seconds>(day.time_since_epoch()).count() +
             number(4) * 3600 + number(5) * 60 + number(6),
         .computer = match[7],
         .rest = match[8]});
  }
  return entries;
}

// The name Windows gives this computer (also under Wine), or the Linux host's name.
std::string ThisComputersName() {
  if (const char* name = std::getenv("COMPUTERNAME")) return name;
  std::string name;
  std::ifstream("/proc/sys/kernel/hostname") >> name;
  return name;
}

std::int64_t UtcSecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string Quoted(const fs::path& path) { return "\"" + PathToUtf8(path) + "\""; }

TEST_F(RunLogTest, AppendsOneLinePerRunToALogInFoldersItCreates) {
  const fs::path target = WriteTarget(EnglishSample());
  const fs::path log = folder_.path() / "Logs" / "Software" / "quorvik-patch.log";
  const std::int64_t before = UtcSecondsNow();

  // The option may come first, as deployment tools put it, or after the command.
  EXPECT_EQ(Run({"--log", log, "patch", "--backup", target}).exitCode, 0);
  EXPECT_EQ(Run({"check", "--log", log, target}).exitCode, 5);
  EXPECT_EQ(Run({"patch", target, "--log", log}).exitCode, 5);
  EXPECT_EQ(Run({"--log", log, "update", target}).exitCode, 2);
  EXPECT_EQ(Run({"--log", log, "revert", target}).exitCode, 0);
  EXPECT_EQ(Run({"--log", log, "check", folder_.path() / "missing.exe"}).exitCode, 3);
  const std::int64_t after = UtcSecondsNow();

  const std::vector<LogEntry> entries = ReadLog(log);
  std::vector<std::string> runs;
  for (const LogEntry& entry : entries) {
    runs.push_back(entry.rest);
    EXPECT_GE(entry.utcSeconds, before - 1) << entry.rest;
    EXPECT_LE(entry.utcSeconds, after + 1) << entry.rest;
    EXPECT_EQ(entry.computer, ThisComputersName());
  }
  EXPECT_EQ(runs,
            (std::vector<std::string>{
                "patch --backup  " + Quoted(target) + "  updated  (exit 0)",
                "check  " + Quoted(target) + "  already updated  (exit 5)",
                "patch  " + Quoted(target) + "  already updated  (exit 5)",
                "update " + PathToUtf8(target) +
                    "  \"\"  usage error: unknown command 'update'  (exit 2)",
                "revert  " + Quoted(target) + "  reverted  (exit 0)",
                "check  " + Quoted(folder_.path() / "missing.exe") + "  invalid path  (exit 3)",
            }));
}

TEST_F(RunLogTest, ChangesNeitherTheOutputNorTheExitCode) {
  const fs::path target = WriteTarget(EnglishSample());
  const ProcessResult plain = Run({"check", target});
  const ProcessResult logged = Run({"--log", folder_.path() / "run.log", "check", target});
  EXPECT_EQ(logged.exitCode, plain.exitCode);
  EXPECT_EQ(logged.out, plain.out);
  EXPECT_EQ(logged.err, plain.err);
}

TEST_F(RunLogTest, ALogThatCannotBeWrittenIsReportedAndTheRunStillCompletes) {
  const fs::path target = WriteTarget(EnglishSample());
  // A folder where the log file should be, and a file where its folder should be.
  fs::create_directory(folder_.path() / "a folder.log");
  WriteBytes(folder_.path() / "not a folder", Bytes{'x'});
  for (const fs::path& log :
       {folder_.path() / "a folder.log", folder_.path() / "not a folder" / "run.log"}) {
    const ProcessResult result = Run({"--log", log, "patch", target});
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 5) << result.exitCode;
    EXPECT_NE(result.err.find("the log \"" + PathToUtf8(log) + "\" could not be written: "),
              std::string::npos)
        << result.err;
  }
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
}

TEST_F(RunLogTest, ALogThatIsALinkOrHasAnotherNameIsRefusedAndNothingIsDone) {
  const fs::path target = WriteTarget(EnglishSample());
  const fs::path other = folder_.path() / "other.conf";
  WriteBytes(other, Bytes{'x'});
  fs::create_hard_link(other, folder_.path() / "hard.log");
  std::vector<fs::path> logs{folder_.path() / "hard.log"};
  // A link to a file that is not there yet, which following it would create.
  std::error_code noSymbolicLinks;  // where links cannot be made here, as under Wine
  fs::create_symlink(folder_.path() / "new.conf", folder_.path() / "link.log", noSymbolicLinks);
  if (!noSymbolicLinks) logs.push_back(folder_.path() / "link.log");
  for (const fs::path& log : logs) {
    const ProcessResult result = Run({"--log", log, "patch", target});
    EXPECT_EQ(result.exitCode, 2) << log;
    EXPECT_NE(result.err.find("Refused to write the log \"" + PathToUtf8(log)), std::string::npos)
        << result.err;
  }
  EXPECT_EQ(ReadBytes(other), Bytes{'x'});
  EXPECT_FALSE(fs::exists(folder_.path() / "new.conf"));
  EXPECT_EQ(ReadBytes(target), EnglishSample());
}

TEST_F(RunLogTest, ALogOptionWithoutAFileIsAUsageError) {
  const fs::path target = WriteTarget(EnglishSample());
  for (const std::vector<fs::path>& arguments :
       std::vector<std::vector<fs::path>>{{"check", target, "--log"},
                                          {"--log", "--", "check", target},
                                          {"--log", "a.log", "--log", "b.log", "check", target}}) {
    const ProcessResult result = RunProgram(QUORVIK_PATCH_PROGRAM, arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("'--log'"), std::string::npos) << result.err;
  }
  EXPECT_EQ(ReadBytes(target), EnglishSample());
}

// The time is UTC, whatever the zone the program runs in.
TEST_F(RunLogTest, WritesTheTimeInUtcInAnyTimeZone) {
  const fs::path log = folder_.path() / "zone.log";
  if (!StartProgramsInTimeZone("NPT-5:45")) {  // 5 h 45 min east of UTC, no summer time
    GTEST_SKIP() << "the programs started here keep the system's time zone";
  }
  const std::int64_t before = UtcSecondsNow();
  const ProcessResult result = Run({"--log", log, "--version"});
  StartProgramsInTimeZone("UTC0");
  EXPECT_EQ(result.exitCode, 0);
  const std::vector<LogEntry> entries = ReadLog(log);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_GE(entries[0].utcSeconds, before - 1);
  EXPECT_LE(entries[0].utcSeconds, UtcSecondsNow() + 1);
  EXPECT_EQ(entries[0].rest, "--version  \"\"  shown  (exit 0)");
}

}  // namespace
}  // namespace quorvik::testing
