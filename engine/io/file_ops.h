#pragma once

#include <filesystem>
#include <optional>

#include "bytes.h"
#include "file_stamp.h"
#include "native_file.h"

namespace quorvik {

// What became of a file that was to be deleted.
enum class Removal {
  Removed,    // it is gone (or was never there)
  AtRestart,  // it could not be deleted now; Windows deletes it when it next starts
  Left,       // it could not be deleted
};

// The steps of a safe rewrite, and of creating a new file safely, one implementation per
// platform. Each throws FileError when it fails.
class FileOps {
 public:
  virtual ~FileOps() = default;

  // The file that a rewrite of `path` replaces: links resolved, as a full path.
  virtual std::filesystem::path ResolveTarget(const std::filesystem::path& path) = 0;
  // The target's current stamp; refuses a target that is read-only.
  virtual FileStamp StampOfReplaceable(const std::filesystem::path& target) = 0;
  // Creates a new file, never opening an existing one or following a link; nullopt when the
  // name is taken.
  virtual std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path) = 0;
  virtual void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) = 0;
  // Gives the new file the target's attributes (permissions, owner, creation time).
  virtual void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                            const std::filesystem::path& path) = 0;
  virtual void Flush(NativeFile& file, const std::filesystem::path& path) = 0;
  virtual void Close(NativeFile& file, const std::filesystem::path& path) = 0;
  // Puts `source` in place of `target` in one step.
  virtual void Replace(const std::filesystem::path& source,
                       const std::filesystem::path& target) = 0;
  // Gives the file `source` the name `destination` in one step, never replacing a file that has
  // that name: false, changing nothing, when `destination` exists.
  virtual bool MoveWithoutReplacing(const std::filesystem::path& source,
                                    const std::filesystem::path& destination) = 0;
  // Asks for the rename itself to reach the disk; a failure here is not reported.
  virtual void SyncFolder(const std::filesystem::path& folder) noexcept = 0;
  // Deletes the file, trying again for a while if another program holds it open.
  virtual Removal Remove(const std::filesystem::path& path) noexcept = 0;
};

FileOps& NativeFileOps();

}  // namespace quorvik
