// The companion's parts that differ by platform, POSIX systems: its entry point, writing to
// the standard streams, and the log file, its time and the computer's name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <vector>

#include "companion.h"
#include "file_error.h"
#include "platform.h"
#include "run_log.h"

namespace quorvik {

namespace {

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void WriteStdout(std::string_view utf8) { WriteAll(STDOUT_FILENO, utf8); }

void WriteStderr(std::string_view utf8) { WriteAll(STDERR_FILENO, utf8); }

UtcTime UtcTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return {.year = utc.tm_year + 1900,
          .month = utc.tm_mon + 1,
          .day = utc.tm_mday,
          .hour = utc.tm_hour,
          .minute = utc.tm_min,
          .second = utc.tm_sec};
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

NativeFile OpenLogFile(const std::filesystem::path& file) {
  // Not blocking either: a FIFO there would wait for a reader.
  NativeFile log(
      ::open(file.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644));
  if (!log) {
    if (errno == ELOOP) throw LogRefused("Refused to write the log", file, "it is a symbolic link");
    ThrowLastError("Could not open", file);
  }
  struct stat info {};
  if (::fstat(log.get(), &info) != 0) ThrowLastError("Could not examine", file);
  if (!S_ISREG(info.st_mode)) {
    throw LogRefused("Refused to write the log", file, "it is not a regular file");
  }
  if (info.st_nlink > 1) {
    throw LogRefused("Refused to write the log", file,
                     "it has more than one name (hard links), so it is also another file");
  }
  return log;
}

void AppendLine(const NativeFile& log, const std::filesystem::path& file, std::string_view line) {
  const std::string text = std::string(line) + "\n";
  ssize_t written;
  do {
    written = ::write(log.get(), text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) ThrowLastError("Could not write", file);
  if (static_cast<std::size_t>(written) != text.size()) {
    throw FileError("Could not write", file, "the disk took only part of the line");
  }
}

}  // namespace quorvik

int main(int argc, char** argv) {
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return quorvik::RunCompanion(arguments);
}
