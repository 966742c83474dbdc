// Measures the patch run against the unavoidable work, reading the file once and writing it once
// durably, and against xdelta3 applying a delta that makes the same change. Prints medians.
//   patch-bench [WORK_FOLDER] [--quick]
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes.h"
#include "table_patch.h"
#include "translation_table.h"
#include "wide_string.h"

namespace {

using quorvik::Bytes;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1024 * 1024;

enum class Content { Ordinary, WideBlanks, NearMisses };

const char* NameOf(Content content) {
  switch (content) {
    case Content::Ordinary:
      return "ordinary";
    case Content::WideBlanks:
      return "wide blanks";
    case Content::NearMisses:
      return "near-misses";
  }
  return "?";
}

// The product's English texts, pairs 5 and 7 with places of their own, spread through the last
// sixteenth of the file so that every search runs nearly to the end.
Bytes MakeTarget(std::size_t size, Content content) {
  Bytes bytes(size);
  std::mt19937_64 random(size);
  if (content == Content::Ordinary) {
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
      const std::uint64_t value = random();
      std::copy_n(reinterpret_cast<const std::uint8_t*>(&value), 8,
                  bytes.begin() + static_cast<std::ptrdiff_t>(i));
    }
  } else if (content == Content::WideBlanks) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] = i % 2 == 0 ? 0x20 : 0x00;
  } else {
    // The longest text with its last character wrong, over and over.
    Bytes miss = quorvik::WidenString(quorvik::BuiltInTranslationTable()[7].english);
    miss[miss.size() - 2] = '#';
    for (std::size_t i = 0; i < size; ++i) bytes[i] = miss[i % miss.size()];
  }
  const auto& table = quorvik::BuiltInTranslationTable();
  const std::size_t region = size / 16;
  std::size_t at = size - region;
  for (const auto& pair : table) {
    const Bytes text = quorvik::WidenString(pair.english);
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    at += region / (table.size() + 1);
  }
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::close(fd) != 0) {
    throw std::runtime_error("could not write " + path.string());
  }
}

// Brings the system to the same state before every timed run: nothing left to write to disk, and
// enough free memory that the system used a moment ago. Virtual machines that hand idle memory
// back to their host make a program wait while the host backs memory touched for the first time
// in a while; on this benchmark's machine that cost more than reading the file. Without this, a
// run that happened to follow another run's release of memory would look several times faster.
void Settle(std::size_t bytes) {
  ::sync();
  void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::runtime_error("could not map memory to settle the system");
  ::madvise(memory, bytes, MADV_HUGEPAGE);
  for (std::size_t at = 0; at < bytes; at += 4096) static_cast<volatile char*>(memory)[at] = 1;
  ::munmap(memory, bytes);
}

struct Run {
  double seconds;
  long peakKiB;
};

// Runs a program and waits for it; fails unless it exits with 0.
Run RunProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments[0] + " failed");
  }
  return {seconds, usage.ru_maxrss};
}

// Reads the file once, as the patch run reads it, and writes it once to a new file, flushed to
// disk.
void CopyDurably(const std::filesystem::path& source, const std::filesystem::path& destination) {
  std::ifstream in(source, std::ios::binary);
  const Bytes buffer{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const int out = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0 ||
      ::write(out, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size()) ||
      ::fsync(out) != 0 || ::close(out) != 0) {
    throw std::runtime_error("could not write " + destination.string());
  }
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The copy floor: reading the file and writing it to a new file beside it, flushed to disk.
double CopyFloor(const std::filesystem::path& source, const std::filesystem::path& destination) {
  const auto start = Clock::now();
  CopyDurably(source, destination);
  const double seconds = SecondsSince(start);
  std::filesystem::remove(destination);
  return seconds;
}

// The copy floor and what any safe rewrite adds to it: the copy takes the place of a file of the
// same size, which the system then frees, and the folder is flushed to disk.
double ReplaceFloor(const std::filesystem::path& source, const std::filesystem::path& destination,
                    const std::filesystem::path& replaced) {
  const auto start = Clock::now();
  CopyDurably(source, destination);
  const int folder = ::open(replaced.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (::rename(destination.c_str(), replaced.c_str()) != 0 || folder < 0 || ::fsync(folder) != 0 ||
      ::close(folder) != 0) {
    throw std::runtime_error("could not replace " + replaced.string());
  }
  const double seconds = SecondsSince(start);
  std::filesystem::remove(replaced);
  return seconds;
}

double Median(std::vector<double> values) {
  std::ranges::sort(values);
  return values[values.size() / 2];
}

// Writes the target and its expected patched form; the buffers are freed again before anything
// is timed, so that the patch run's peak memory is its own and not the forked benchmark's.
void WriteTargets(std::size_t size, Content content, const std::filesystem::path& original,
                  const std::filesystem::path& expected) {
  Bytes bytes = MakeTarget(size, content);
  WriteFile(original, bytes);
  const auto table =
      quorvik::WidenTable(quorvik::BuiltInTranslationTable(), quorvik::Direction::EnglishToItalian);
  if (!quorvik::ApplyTable(bytes, table).AllRequiredFound()) {
    throw std::logic_error("the generated target lacks a text");
  }
  WriteFile(expected, bytes);
}

void Measure(const std::filesystem::path& folder, std::size_t size, Content content, int runs) {
  const auto orig = folder / "original.exe";
  const auto target = folder / "Quorvik.exe";
  const auto expected = folder / "expected.exe";
  const auto delta = folder / "delta.vcdiff";
  const auto replaced = folder / "replaced.exe";
  WriteTargets(size, content, orig, expected);
  RunProgram({"xdelta3", "-e", "-f", "-s", orig.string(), expected.string(), delta.string()});

  std::vector<double> patchTimes, floorTimes, replaceTimes, xdeltaTimes;
  long peakKiB = 0;
  for (int run = 0; run < runs; ++run) {
    std::filesystem::copy_file(orig, target, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(orig, replaced, std::filesystem::copy_options::overwrite_existing);
    // Each run needs memory for the file and for the new file's cached pages.
    const std::size_t settleBytes = 3 * size;
    Settle(settleBytes);
    const Run patch = RunProgram({QUORVIK_PATCH_PROGRAM, "patch", target.string()});
    patchTimes.push_back(patch.seconds);
    peakKiB = std::max(peakKiB, patch.peakKiB);
    Settle(settleBytes);
    floorTimes.push_back(CopyFloor(target, folder / "copy.exe"));
    Settle(settleBytes);
    replaceTimes.push_back(ReplaceFloor(target, folder / "copy.exe", replaced));
    Settle(settleBytes);
    xdeltaTimes.push_back(RunProgram({"xdelta3", "-d", "-f", "-s", orig.string(), delta.string(),
                                      (folder / "xdelta-out.exe").string()})
                              .seconds);
  }
  const double patchTime = Median(patchTimes), floorTime = Median(floorTimes),
               replaceTime = Median(replaceTimes), xdeltaTime = Median(xdeltaTimes);
  std::printf("%5zu MiB  %-12s  %6.3f  %6.3f  %7.3f  %7.3f  %11.2f  %13.2f  %12.2f  %8.1f MiB\n",
              size / kMiB, NameOf(content), patchTime, floorTime, replaceTime, xdeltaTime,
              patchTime / floorTime, patchTime / replaceTime, patchTime / xdeltaTime,
              static_cast<double>(peakKiB) / 1024.0);
  std::fflush(stdout);
  for (const auto& name : {orig, target, expected, delta, replaced, folder / "xdelta-out.exe"}) {
    std::filesystem::remove(name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "quorvik-bench";
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--quick") {
      quick = true;
    } else {
      folder = argv[i];
    }
  }
  std::filesystem::create_directories(folder);
  const int runs = quick ? 3 : 5;
  const std::vector<std::size_t> sizes =
      quick ? std::vector<std::size_t>{4 * kMiB, 64 * kMiB}
            : std::vector<std::size_t>{4 * kMiB, 64 * kMiB, 512 * kMiB};
  std::printf("Medians of %d runs, in seconds; peak memory of the patch run.\n", runs);
  std::printf("%9s  %-12s  %6s  %6s  %7s  %7s  %11s  %13s  %12s  %12s\n", "size", "content",
              "patch", "floor", "replace", "xdelta3", "patch/floor", "patch/replace",
              "patch/xdelta", "peak memory");
  try {
    for (const std::size_t size : sizes) {
      for (const Content content : {Content::Ordinary, Content::WideBlanks, Content::NearMisses}) {
        Measure(folder, size, content, runs);
      }
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "patch-bench: %s\n", error.what());
    return 1;
  }
  std::filesystem::remove_all(folder);
  return 0;
}
