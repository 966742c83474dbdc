#include "temporary_file.h"

#include <optional>
#include <string>

#include "file_error.h"
#include "process_id.h"

namespace quorvik {
namespace {

constexpr int kNameAttempts = 100;

std::filesystem::path TemporaryName(const std::filesystem::path& destination, int attempt) {
  std::filesystem::path name = destination;
  name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
  return name;
}

}  // namespace

TemporaryFile::TemporaryFile(FileOps& ops, const std::filesystem::path& destination,
                             const KeptMetadata& kept)
    : ops_(ops), kept_(kept) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    path_ = TemporaryName(destination, attempt);
    if (std::optional<NativeFile> created = ops_.CreateExclusive(path_, kept_)) {
      file_ = std::move(*created);
      return;
    }
  }
  throw FileError("Could not create a temporary file beside", destination,
                  "every temporary name tried is already taken");
}

TemporaryFile::~TemporaryFile() {
  if (settled_) return;
  file_ = NativeFile();
  ops_.Remove(path_);
}

void TemporaryFile::Discard(FileError& failure) {
  file_ = NativeFile();
  NoteRemoval(failure, ops_.Remove(path_), "The temporary file", path_);
  settled_ = true;
}

void NoteRemoval(FileError& failure, Removal removal, const std::string& what,
                 const std::filesystem::path& file) {
  const std::string named = what + " \"" + PathToUtf8(file) + "\"";
  switch (removal) {
    case Removal::Removed:
      return;
    case Removal::AtRestart:
      failure.AddAftermath(named +
                           " could not be deleted now; Windows deletes it when it next starts.");
      return;
    case Removal::Left:
      break;
  }
  failure.AddAftermath(named + " could not be deleted; it can be deleted by hand.");
}

void TemporaryFile::Save(ByteView bytes) {
  ops_.WriteAll(file_, bytes, path_);
  ops_.CopyMetadata(kept_, file_, path_);
  ops_.Flush(file_, path_);
  ops_.Close(file_, path_);
}

}  // namespace quorvik
