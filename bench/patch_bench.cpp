// Measures the patch run against the least a safe in-place update must do (the floors below), in
// the work folder with the file in the cache and, where this machine can mount one, on an XFS
// file system with reflink with the cache dropped before every timed run. Prints medians.
//   patch-bench [WORK_FOLDER] [--quick] [--also OTHER_QUORVIK_PATCH]
// --also times a second build of the companion (an older one, say) in the same runs.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bytes.h"
#include "table_patch.h"
#include "translation_table.h"
#include "unique_resource.h"
#include "wide_string.h"

namespace {

using quorvik::Bytes;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr std::size_t kMiB = 1024 * 1024;
// The read-once floor's buffer: reused for the whole file, as a patch run that reads in pieces
// holds one piece at a time.
constexpr std::size_t kReadPieceSize = 4 * kMiB;

struct DescriptorTraits {
  using Handle = int;
  static constexpr Handle kEmpty = -1;
  static bool IsValid(Handle fd) { return fd >= 0; }
  static void Close(Handle fd) { ::close(fd); }
};
using Descriptor = quorvik::UniqueResource<DescriptorTraits>;

[[noreturn]] void ThrowSystemError(const std::string& operation, const fs::path& path) {
  const int error = errno;
  throw std::system_error(error, std::generic_category(), operation + " " + path.string());
}

Descriptor Open(const fs::path& path, int flags) {
  Descriptor fd(::open(path.c_str(), flags | O_CLOEXEC, 0644));
  if (!fd) ThrowSystemError("open", path);
  return fd;
}

void Flush(const Descriptor& fd, const fs::path& path) {
  if (::fsync(fd.get()) != 0) ThrowSystemError("fsync", path);
}

void CloseChecked(Descriptor fd, const fs::path& path) {
  if (::close(fd.Release()) != 0) ThrowSystemError("close", path);
}

void WriteAll(const Descriptor& fd, const std::uint8_t* data, std::size_t size,
              const fs::path& path) {
  while (size > 0) {
    const ssize_t written = ::write(fd.get(), data, size);
    if (written < 0) ThrowSystemError("write", path);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Reads the next piece of the file into the buffer; 0 at its end.
std::size_t ReadPiece(const Descriptor& fd, std::vector<std::uint8_t>& buffer,
                      const fs::path& path) {
  const ssize_t read = ::read(fd.get(), buffer.data(), buffer.size());
  if (read < 0) ThrowSystemError("read", path);
  return static_cast<std::size_t>(read);
}

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

void WriteFile(const fs::path& path, const Bytes& bytes) {
  const Descriptor fd = Open(path, O_WRONLY | O_CREAT | O_TRUNC);
  WriteAll(fd, bytes.data(), bytes.size(), path);
}

// Copies by reading and writing, so that the copy has blocks of its own on a file system that
// shares blocks between files, as an installed program file has.
void CopyToOwnBlocks(const fs::path& source, const fs::path& destination) {
  const Descriptor in = Open(source, O_RDONLY);
  const Descriptor out = Open(destination, O_WRONLY | O_CREAT | O_TRUNC);
  std::vector<std::uint8_t> buffer(kReadPieceSize);
  while (const std::size_t read = ReadPiece(in, buffer, source)) {
    WriteAll(out, buffer.data(), read, destination);
  }
}

bool SameContent(const fs::path& first, const fs::path& second) {
  const Descriptor a = Open(first, O_RDONLY), b = Open(second, O_RDONLY);
  std::vector<std::uint8_t> pieceA(kReadPieceSize), pieceB(kReadPieceSize);
  while (true) {
    const std::size_t readA = ReadPiece(a, pieceA, first), readB = ReadPiece(b, pieceB, second);
    if (readA != readB || !std::equal(pieceA.begin(), pieceA.begin() + readA, pieceB.begin())) {
      return false;
    }
    if (readA == 0) return true;
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

// Empties the system's file cache (clean pages, directory entries and inodes); Settle has just
// written everything out, so nothing is left in it.
void DropCaches() {
  ::sync();
  const fs::path control = "/proc/sys/vm/drop_caches";
  const Descriptor fd = Open(control, O_WRONLY);
  const std::uint8_t all[] = {'3'};
  WriteAll(fd, all, sizeof all, control);
}

struct Run {
  int exitCode;  // -1 when a signal ended it
  double seconds;
  long peakKiB;
};

// Runs a program with its output thrown away and waits for it; exit code 127: it could not start.
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
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds, usage.ru_maxrss};
}

Run RunProgramOrThrow(const std::vector<std::string>& arguments) {
  const Run run = RunProgram(arguments);
  if (run.exitCode != 0) throw std::runtime_error(arguments[0] + " failed");
  return run;
}

enum class CopyMethod { Clone, CopyFileRange };

const char* NameOf(CopyMethod method) {
  return method == CopyMethod::Clone ? "clone" : "copy_file_range";
}

// Fills the new file as coreutils' cp does by default: it shares the source's blocks where the
// file system can (FICLONE), else, whatever the refusal, has the kernel copy them
// (copy_file_range, which every file system takes within one folder since Linux 5.3).
CopyMethod CloneOrCopy(const Descriptor& source, const Descriptor& destination,
                       const fs::path& destinationPath) {
  if (::ioctl(destination.get(), FICLONE, source.get()) == 0) return CopyMethod::Clone;
  // From the start, wherever reading the source left its file position.
  loff_t from = 0, to = 0;
  while (true) {
    const ssize_t copied =
        ::copy_file_range(source.get(), &from, destination.get(), &to, std::size_t{1} << 30, 0);
    if (copied < 0) ThrowSystemError("copy_file_range to", destinationPath);
    if (copied == 0) return CopyMethod::CopyFileRange;
  }
}

struct FloorRun {
  double seconds;
  CopyMethod method;
};

// A floor: what an update that can never lose the file must do at least. It copies the target as
// `cp` does to a new file beside it, flushes the new file (fsync; `sync -f` would flush its whole
// file system), renames it over the target (`mv`) and flushes the folder. Done here rather than by
// running cp, sync and mv, so that it pays for no program start: the patch run's one start is part
// of the gap the ratio shows. With readFirst, it first reads the whole target once through one
// reused buffer: the least an update that must look at every byte can do. The copy replaces the
// very file it was made from, as the patch run's does, so that a cloning file system frees only
// what the two no longer share.
FloorRun Floor(const fs::path& target, bool readFirst) {
  const fs::path copy = fs::path(target).concat(".floor");
  const auto start = Clock::now();
  const Descriptor source = Open(target, O_RDONLY);
  if (readFirst) {
    std::vector<std::uint8_t> buffer(kReadPieceSize);
    while (ReadPiece(source, buffer, target) > 0) {
    }
  }
  Descriptor destination = Open(copy, O_WRONLY | O_CREAT | O_EXCL);
  const CopyMethod method = CloneOrCopy(source, destination, copy);
  Flush(destination, copy);
  CloseChecked(std::move(destination), copy);
  if (::rename(copy.c_str(), target.c_str()) != 0) ThrowSystemError("rename over", target);
  const Descriptor folder = Open(target.parent_path(), O_RDONLY | O_DIRECTORY);
  Flush(folder, target.parent_path());
  return {std::chrono::duration<double>(Clock::now() - start).count(), method};
}

double Median(std::vector<double> values) {
  std::ranges::sort(values);
  return values[values.size() / 2];
}

// Writes the target and its expected patched form; the buffers are freed again before anything
// is timed, so that the patch run's peak memory is its own and not the forked benchmark's.
void WriteTargets(std::size_t size, Content content, const fs::path& original,
                  const fs::path& expected) {
  Bytes bytes = MakeTarget(size, content);
  WriteFile(original, bytes);
  const auto table =
      quorvik::WidenTable(quorvik::BuiltInTranslationTable(), quorvik::Direction::EnglishToItalian);
  if (!quorvik::ApplyTable(bytes, table).AllRequiredFound()) {
    throw std::logic_error("the generated target lacks a text");
  }
  WriteFile(expected, bytes);
}

struct Program {
  std::string label;
  std::string path;
};

struct Setting {
  fs::path folder;
  // Whether every timed run starts with the file system's cache emptied.
  bool coldCache;
};

// Times each program and both floors on a fresh copy of the target, in turn, `runs` times, and
// prints one row per program.
void Measure(const Setting& setting, const std::vector<Program>& programs, std::size_t size,
             Content content, int runs) {
  const auto original = setting.folder / "original.exe";
  const auto target = setting.folder / "Quorvik.exe";
  const auto expected = setting.folder / "expected.exe";
  WriteTargets(size, content, original, expected);
  // Each run needs memory for the file and for the new file's cached pages.
  const std::size_t settleBytes = 3 * size;
  const auto prepare = [&] {
    CopyToOwnBlocks(original, target);
    Settle(settleBytes);
    if (setting.coldCache) DropCaches();
  };

  std::vector<std::vector<double>> programTimes(programs.size());
  std::vector<long> peakKiB(programs.size(), 0);
  std::vector<double> replaceTimes, readOnceTimes;
  std::optional<CopyMethod> replaceMethod, readOnceMethod;
  // The first run of each checks what it left: a figure of a run that did less is worth nothing.
  const auto checkFirst = [&](int run, const fs::path& wanted, const std::string& who) {
    if (run == 0 && !SameContent(target, wanted)) {
      throw std::runtime_error(who + " left " + target.string() + " other than " + wanted.string());
    }
  };
  for (int run = 0; run < runs; ++run) {
    for (std::size_t p = 0; p < programs.size(); ++p) {
      prepare();
      // The cold cache is the target's: the program and its libraries are read back in first, as
      // the floors' code is in memory already.
      if (setting.coldCache) RunProgramOrThrow({programs[p].path, "--help"});
      const Run patch = RunProgramOrThrow({programs[p].path, "patch", target.string()});
      programTimes[p].push_back(patch.seconds);
      peakKiB[p] = std::max(peakKiB[p], patch.peakKiB);
      checkFirst(run, expected, programs[p].path);
    }
    prepare();
    const FloorRun replace = Floor(target, false);
    replaceTimes.push_back(replace.seconds);
    replaceMethod = replace.method;
    checkFirst(run, original, "the replacing floor");
    prepare();
    const FloorRun readOnce = Floor(target, true);
    readOnceTimes.push_back(readOnce.seconds);
    readOnceMethod = readOnce.method;
    checkFirst(run, original, "the read-once floor");
  }
  const double replaceTime = Median(replaceTimes), readOnceTime = Median(readOnceTimes);
  const std::string copiedBy =
      replaceMethod == readOnceMethod
          ? NameOf(*readOnceMethod)
          : std::string(NameOf(*replaceMethod)) + "/" + NameOf(*readOnceMethod);
  for (std::size_t p = 0; p < programs.size(); ++p) {
    const double patchTime = Median(programTimes[p]);
    std::printf("%5zu MiB  %-11s  %-7s  %6.3f  %7.1f MiB  %7.3f  %9.3f  %13.2f  %15.2f  %s\n",
                size / kMiB, NameOf(content), programs[p].label.c_str(), patchTime,
                static_cast<double>(peakKiB[p]) / 1024.0, replaceTime, readOnceTime,
                patchTime / replaceTime, patchTime / readOnceTime, copiedBy.c_str());
  }
  std::fflush(stdout);
  for (const auto& name : {original, target, expected}) fs::remove(name);
}

void MeasureAll(const Setting& setting, const std::vector<Program>& programs,
                const std::vector<std::size_t>& sizes, int runs) {
  std::printf("%9s  %-11s  %-7s  %6s  %11s  %7s  %9s  %13s  %15s  %s\n", "size", "content",
              "program", "patch", "peak memory", "replace", "read once", "patch/replace",
              "patch/read once", "floors copied by");
  for (const std::size_t size : sizes) {
    for (const Content content : {Content::Ordinary, Content::WideBlanks, Content::NearMisses}) {
      Measure(setting, programs, size, content, runs);
    }
  }
}

// A file system of XFS with reflink, made in an image file and loop-mounted, all under the work
// folder, and gone again with this object. It is mounted in a mount namespace of the
// benchmark's own, which ends with the benchmark however it ends; the loop device frees itself
// once nothing holds it, so not even a killed benchmark leaves a mount or a device behind.
class XfsImage {
 public:
  explicit XfsImage(const fs::path& workFolder)
      : image_(workFolder / "xfs.img"), mountPoint_(workFolder / "xfs") {}
  XfsImage(const XfsImage&) = delete;
  XfsImage& operator=(const XfsImage&) = delete;
  ~XfsImage() {
    if (mounted_) ::umount2(mountPoint_.c_str(), 0);
    loop_.Reset();
    std::error_code ignored;
    fs::remove(mountPoint_, ignored);
    fs::remove(image_, ignored);
  }

  const fs::path& Folder() const { return mountPoint_; }

  // Why this machine cannot mount it, or nothing once it is mounted.
  std::optional<std::string> Mount(std::uint64_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      return Refusal(errno, "a mount namespace of its own");
    }
    {
      const Descriptor image = Open(image_, O_WRONLY | O_CREAT | O_TRUNC);
      if (::ftruncate(image.get(), static_cast<off_t>(bytes)) != 0) {
        ThrowSystemError("set the size of", image_);
      }
    }
    const Run mkfs = RunProgram({"mkfs.xfs", "-q", "-f", "-m", "reflink=1", image_.string()});
    if (mkfs.exitCode == 127) {
      return "mkfs.xfs is missing (Debian's xfsprogs, which scripts/install-deps.sh installs)";
    }
    if (mkfs.exitCode != 0) throw std::runtime_error("mkfs.xfs failed on " + image_.string());
    if (const auto refusal = AttachLoopDevice()) return refusal;
    fs::create_directory(mountPoint_);
    if (::mount(loopPath_.c_str(), mountPoint_.c_str(), "xfs", 0, nullptr) != 0) {
      const int error = errno;
      return Refusal(error, "to mount XFS from " + loopPath_.string());
    }
    mounted_ = true;
    return std::nullopt;
  }

 private:
  // `error` is errno, read before putting `what` together could change it.
  static std::string Refusal(int error, const std::string& what) {
    return "the system refused " + what + ": " + std::generic_category().message(error);
  }

  // Attaches the image to a free loop device, with direct I/O so that the image's host file
  // system caches none of it either. Another program can take the free device first.
  std::optional<std::string> AttachLoopDevice() {
    const Descriptor control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (!control) return Refusal(errno, "to open /dev/loop-control");
    const Descriptor image = Open(image_, O_RDWR);
    loop_config config{};
    config.fd = static_cast<std::uint32_t>(image.get());
    config.info.lo_flags = LO_FLAGS_AUTOCLEAR | LO_FLAGS_DIRECT_IO;
    for (int attempt = 0; attempt < 5; ++attempt) {
      const int number = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
      if (number < 0) return Refusal(errno, "a free loop device");
      loopPath_ = "/dev/loop" + std::to_string(number);
      loop_ = Open(loopPath_, O_RDWR);
      if (::ioctl(loop_.get(), LOOP_CONFIGURE, &config) == 0) return std::nullopt;
      const int error = errno;
      if (error != EBUSY) return Refusal(error, "to attach the image to " + loopPath_.string());
      loop_.Reset();
    }
    return Refusal(EBUSY, "a loop device that stayed free");
  }

  fs::path image_;
  fs::path mountPoint_;
  fs::path loopPath_;
  Descriptor loop_;
  bool mounted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  fs::path folder = fs::temp_directory_path() / "quorvik-bench";
  bool quick = false;
  std::vector<Program> programs = {{"this", QUORVIK_PATCH_PROGRAM}};
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--quick") {
      quick = true;
    } else if (argument == "--also" && i + 1 < argc) {
      programs.push_back({"other", fs::absolute(argv[++i]).string()});
    } else if (argument.starts_with("--")) {
      std::fprintf(stderr, "usage: patch-bench [WORK_FOLDER] [--quick] [--also PROGRAM]\n");
      return 2;
    } else {
      folder = argument;
    }
  }
  fs::create_directories(folder);
  folder = fs::canonical(folder);
  const int runs = quick ? 3 : 5;
  const std::vector<std::size_t> sizes =
      quick ? std::vector<std::size_t>{4 * kMiB, 64 * kMiB}
            : std::vector<std::size_t>{4 * kMiB, 64 * kMiB, 512 * kMiB};
  std::printf("Medians of %d runs, in seconds; peak memory of the patch run.\n", runs);
  for (const Program& program : programs) {
    std::printf("%-7s %s\n", program.label.c_str(), program.path.c_str());
  }
  try {
    std::printf("\nIn %s, the file in the cache:\n", folder.c_str());
    MeasureAll({folder, false}, programs, sizes, runs);
    XfsImage xfs(folder);
    // Room for the original, the expected file, the target and a new file with blocks of its
    // own (a build that does not clone), and XFS's log.
    const std::uint64_t imageBytes = 4 * sizes.back() + 512 * kMiB;
    if (const auto refusal = xfs.Mount(imageBytes)) {
      std::printf("\nNo rows on XFS: %s.\n", refusal->c_str());
    } else {
      std::printf("\nOn XFS with reflink (an image on a loop device), the cache emptied first:\n");
      MeasureAll({xfs.Folder(), true}, programs, sizes, runs);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "patch-bench: %s\n", error.what());
    return 1;
  }
  fs::remove_all(folder);
  return 0;
}
