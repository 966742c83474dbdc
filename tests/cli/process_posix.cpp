#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform.h"
#include "process.h"

extern char** environ;

namespace quorvik::testing {
namespace {

constexpr auto kTimeLimit = std::chrono::seconds(60);

struct Pipe {
  NativeFile read;
  NativeFile write;
};

[[noreturn]] void Fail(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

void OpenPipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) Fail("pipe2", errno);
  pipe.read.Reset(fds[0]);
  pipe.write.Reset(fds[1]);
}

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Reads both pipes until each reaches its end or the deadline passes; false on the deadline.
bool Drain(Pipe& out, Pipe& err, ProcessResult& result,
           std::chrono::steady_clock::time_point deadline) {
  std::vector<pollfd> open = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
  std::string* sinks[] = {&result.out, &result.err};
  while (open[0].fd >= 0 || open[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = ::poll(open.data(), open.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) Fail("poll", errno);
    for (std::size_t i = 0; i < open.size() && ready > 0; ++i) {
      if (open[i].fd < 0 || open[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(open[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        open[i].fd = -1;  // poll() skips negative descriptors
      }
    }
  }
  return true;
}

// Waits for the child without blocking past the deadline; kills it once the deadline passes.
int Reap(pid_t child, std::chrono::steady_clock::time_point deadline) {
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      throw std::runtime_error("the program did not end in time");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProcessResult RunProgram(const std::filesystem::path& program,
                         std::span<const std::filesystem::path> arguments) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  Pipe out, err;
  OpenPipe(out);
  OpenPipe(err);
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(actions.get(), out.write.get(), STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(actions.get(), err.write.get(), STDERR_FILENO);
  pid_t child = 0;
  const int error =
      ::posix_spawn(&child, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (error != 0) Fail("posix_spawn " + program.string(), error);
  out.write.Reset();
  err.write.Reset();

  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  ProcessResult result;
  if (!Drain(out, err, result, deadline)) ::kill(child, SIGKILL);
  result.exitCode = Reap(child, deadline);
  return result;
}

bool StartProgramsInTimeZone(const char* posixZone) { return ::setenv("TZ", posixZone, 1) == 0; }

}  // namespace quorvik::testing
