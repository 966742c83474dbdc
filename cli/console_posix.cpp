#include <unistd.h>

#include <cerrno>

#include "console.h"

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

}  // namespace quorvik
