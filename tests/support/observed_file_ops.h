#pragma once

#include <functional>
#include <vector>

#include "file_search.h"
#include "platform.h"

namespace quorvik::testing {

// The platform's own file operations, with a hook called before each one that can fail, given
// its number counted from 1, and another called once it has been done. The hooks may throw, or
// end the process, to stand for a failure or a crash at that step: before it, or after the
// system did it but answered that it failed (as a network share whose answer was lost may).
class ObservedFileOps final : public FileOps {
 public:
  using Hook = std::function<void(int step, const std::filesystem::path& path)>;

  explicit ObservedFileOps(
      Hook beforeStep, Hook afterStep = [](int, const std::filesystem::path&) {},
      FileOps& real = NativeFileOps())
      : real_(real), beforeStep_(std::move(beforeStep)), afterStep_(std::move(afterStep)) {}

  int steps() const { return steps_; }
  // The files it was asked to delete.
  const std::vector<std::filesystem::path>& removed() const { return removed_; }

  NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) override;
  RewriteTarget OpenTarget(const std::filesystem::path& path) override;
  std::shared_ptr<const KeptMetadata> ReadMetadata(const std::filesystem::path& model) override;
  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path,
                                            const KeptMetadata& like) override;
  void CopyContent(const NativeFile& source, NativeFile& copy,
                   const std::filesystem::path& path) override;
  void WriteAt(NativeFile& file, std::uint64_t offset, ByteView bytes,
               const std::filesystem::path& path) override;
  void CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                    const std::filesystem::path& path) override;
  void Flush(NativeFile& file, const std::filesystem::path& path) override;
  void Close(NativeFile& file, const std::filesystem::path& path) override;
  void Replace(const std::filesystem::path& source, const std::filesystem::path& target,
               const ReplaceCheck& check) override;
  void KeepShortName(const std::filesystem::path& target, const KeptMetadata& kept,
                     const FileStamp& replacement) noexcept override;
  bool MoveWithoutReplacing(const std::filesystem::path& source,
                            const std::filesystem::path& destination) override;
  void SyncFolder(const std::filesystem::path& folder) noexcept override;
  Removal Remove(const std::filesystem::path& path) noexcept override;

 private:
  void Step(const std::filesystem::path& path);
  void Done(const std::filesystem::path& path);

  FileOps& real_;
  Hook beforeStep_;
  Hook afterStep_;
  int steps_ = 0;
  std::vector<std::filesystem::path> removed_;
};

// The file at `path` opened as the commands open it. Throws FileError where it cannot be.
OpenedFile OpenToRewrite(const std::filesystem::path& path);

// RewriteFile with `content`, as long as the file, in place of all of the file opened as
// `original`.
void RewriteWith(const std::filesystem::path& path, OpenedFile original, ByteView content,
                 FileOps& ops = NativeFileOps());

// A hook that throws a FileError at step `failAt`, 0 for never.
ObservedFileOps::Hook FailAtStep(int failAt);

}  // namespace quorvik::testing
