#include "observed_file_ops.h"

#include <string>

#include "file_error.h"
#include "rewrite.h"

namespace quorvik::testing {

void ObservedFileOps::Step(const std::filesystem::path& path) { beforeStep_(++steps_, path); }

void ObservedFileOps::Done(const std::filesystem::path& path) { afterStep_(steps_, path); }

NativeFile ObservedFileOps::OpenForReading(const std::filesystem::path& path,
                                           std::string* failure) {
  return real_.OpenForReading(path, failure);
}

RewriteTarget ObservedFileOps::OpenTarget(const std::filesystem::path& path) {
  Step(path);
  RewriteTarget target = real_.OpenTarget(path);
  Done(path);
  return target;
}

std::shared_ptr<const KeptMetadata> ObservedFileOps::ReadMetadata(
    const std::filesystem::path& model) {
  Step(model);
  return real_.ReadMetadata(model);
}

std::optional<NativeFile> ObservedFileOps::CreateExclusive(const std::filesystem::path& path,
                                                           const KeptMetadata& like) {
  Step(path);
  std::optional<NativeFile> file = real_.CreateExclusive(path, like);
  Done(path);
  return file;
}

void ObservedFileOps::CopyContent(const NativeFile& source, NativeFile& copy,
                                  const std::filesystem::path& path) {
  Step(path);
  real_.CopyContent(source, copy, path);
  Done(path);
}

void ObservedFileOps::WriteAt(NativeFile& file, std::uint64_t offset, ByteView bytes,
                              const std::filesystem::path& path) {
  // Half the bytes reach the file before the step's hook runs, as when a disk fills up.
  const std::size_t half = bytes.size() / 2;
  real_.WriteAt(file, offset, bytes.first(half), path);
  Step(path);
  real_.WriteAt(file, offset + half, bytes.subspan(half), path);
  Done(path);
}

void ObservedFileOps::CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                                   const std::filesystem::path& path) {
  Step(path);
  real_.CopyMetadata(kept, file, path);
  Done(path);
}

void ObservedFileOps::Flush(NativeFile& file, const std::filesystem::path& path) {
  Step(path);
  real_.Flush(file, path);
  Done(path);
}

void ObservedFileOps::Close(NativeFile& file, const std::filesystem::path& path) {
  Step(path);
  real_.Close(file, path);
  Done(path);
}

void ObservedFileOps::Replace(const std::filesystem::path& source,
                              const std::filesystem::path& target, const ReplaceCheck& check) {
  Step(target);
  real_.Replace(source, target, check);
  Done(target);
}

void ObservedFileOps::KeepShortName(const std::filesystem::path& target, const KeptMetadata& kept,
                                    const FileStamp& replacement) noexcept {
  real_.KeepShortName(target, kept, replacement);
}

bool ObservedFileOps::MoveWithoutReplacing(const std::filesystem::path& source,
                                           const std::filesystem::path& destination) {
  Step(destination);
  const bool moved = real_.MoveWithoutReplacing(source, destination);
  Done(destination);
  return moved;
}

void ObservedFileOps::SyncFolder(const std::filesystem::path& folder) noexcept {
  real_.SyncFolder(folder);
}

Removal ObservedFileOps::Remove(const std::filesystem::path& path) noexcept {
  removed_.push_back(path);
  return real_.Remove(path);
}

ObservedFileOps::Hook FailAtStep(int failAt) {
  return [failAt](int step, const std::filesystem::path& path) {
    if (step == failAt) throw FileError("Injected failure", path, "step " + std::to_string(step));
  };
}

OpenedFile OpenToRewrite(const std::filesystem::path& path) {
  std::optional<OpenedFile> file = OpenRegularFile(path);
  if (!file) throw FileError("Could not open", path, "it is not a regular file that can be read");
  return std::move(*file);
}

void RewriteWith(const std::filesystem::path& path, OpenedFile original, ByteView content,
                 FileOps& ops) {
  const Replacement whole{0, content};
  RewriteFile(path, std::move(original), std::span(&whole, 1), ops);
}

}  // namespace quorvik::testing
