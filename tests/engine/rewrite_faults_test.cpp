#include <gtest/gtest.h>

#include "file_error.h"
#include "file_ops.h"
#include "process_id.h"
#include "rewrite.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

// The platform's own operations, except that the n-th one that can fail throws instead.
class FailingOps final : public FileOps {
 public:
  explicit FailingOps(int failAt) : failAt_(failAt) {}

  int steps() const { return steps_; }

  std::filesystem::path ResolveTarget(const std::filesystem::path& path) override {
    Step(path);
    return real_.ResolveTarget(path);
  }
  FileStamp StampOfReplaceable(const std::filesystem::path& target) override {
    Step(target);
    return real_.StampOfReplaceable(target);
  }
  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path) override {
    Step(path);
    return real_.CreateExclusive(path);
  }
  void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) override {
    // Half the bytes reach the file first, as when a disk fills up.
    if (steps_ + 1 == failAt_) real_.WriteAll(file, bytes.first(bytes.size() / 2), path);
    Step(path);
    real_.WriteAll(file, bytes, path);
  }
  void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                    const std::filesystem::path& path) override {
    Step(path);
    real_.CopyMetadata(target, file, path);
  }
  void Flush(NativeFile& file, const std::filesystem::path& path) override {
    Step(path);
    real_.Flush(file, path);
  }
  void Close(NativeFile& file, const std::filesystem::path& path) override {
    Step(path);
    real_.Close(file, path);
  }
  void Replace(const std::filesystem::path& source, const std::filesystem::path& target) override {
    Step(target);
    real_.Replace(source, target);
  }
  void SyncFolder(const std::filesystem::path& folder) noexcept override {
    real_.SyncFolder(folder);
  }
  void Remove(const std::filesystem::path& path) noexcept override { real_.Remove(path); }

 private:
  void Step(const std::filesystem::path& path) {
    if (++steps_ == failAt_)
      throw FileError("Injected failure", path, "step " + std::to_string(steps_));
  }

  FileOps& real_ = NativeFileOps();
  int failAt_;
  int steps_ = 0;
};

TEST(RewriteFile, AFailureAtAnyStepLeavesTheOriginalAndNoTemporaryFile) {
  const Bytes original(100000, 0x41);
  const Bytes replacement(100000, 0x42);
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";

  FailingOps dryRun(0);
  WriteBytes(target, original);
  RewriteFile(target, replacement, ReadWholeFile(target).stamp, dryRun);
  ASSERT_EQ(ReadBytes(target), replacement);
  ASSERT_GE(dryRun.steps(), 8) << "every step of the rewrite is counted";

  for (int failAt = 1; failAt <= dryRun.steps(); ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    WriteBytes(target, original);
    FailingOps ops(failAt);
    EXPECT_THROW(RewriteFile(target, replacement, ReadWholeFile(target).stamp, ops), FileError);
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }
}

TEST(RewriteFile, PicksAnotherTemporaryNameWhenOneIsTaken) {
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";
  WriteBytes(target, Bytes{1, 2, 3});
  // Squat on the first names the rewrite would try.
  std::vector<std::filesystem::path> squatted;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::filesystem::path name = target;
    name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    WriteBytes(name, Bytes{9});
    squatted.push_back(name);
  }
  RewriteFile(target, Bytes{4, 5, 6}, ReadWholeFile(target).stamp);
  EXPECT_EQ(ReadBytes(target), (Bytes{4, 5, 6}));
  for (const auto& name : squatted) EXPECT_EQ(ReadBytes(name), Bytes{9});
  EXPECT_EQ(folder.Entries().size(), 4u);
}

}  // namespace
}  // namespace quorvik
