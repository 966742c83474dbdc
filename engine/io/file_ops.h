#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "bytes.h"
#include "file_stamp.h"
#include "native_file.h"

namespace quorvik {

// What a new file keeps of the file whose place it takes, or of which it is a copy, beyond its
// bytes: read from that file once, before the new one is made. Each platform defines it with
// its FileOps.
struct KeptMetadata;

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
  // What a new file in the place of `model`, or a copy of it, keeps of it.
  virtual std::shared_ptr<const KeptMetadata> ReadMetadata(const std::filesystem::path& model) = 0;
  // Creates a new file, never opening an existing one or following a link; nullopt when the
  // name is taken. It stores its bytes as the file `like` was read from does (on Windows:
  // encrypted, compressed), or is not created at all.
  virtual std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path,
                                                    const KeptMetadata& like) = 0;
  virtual void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) = 0;
  // Gives the new file the rest of what it keeps: permissions, owner and group, creation time
  // and attributes, and on Windows its other streams.
  virtual void CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                            const std::filesystem::path& path) = 0;
  virtual void Flush(NativeFile& file, const std::filesystem::path& path) = 0;
  virtual void Close(NativeFile& file, const std::filesystem::path& path) = 0;
  // Puts `source` in place of `target` in one step.
  virtual void Replace(const std::filesystem::path& source,
                       const std::filesystem::path& target) = 0;
  // After Replace: gives the new file at `target` the short 8.3 name that the old file had
  // (Windows), which no two files in a folder can have, so not before the old file is gone.
  // Skipped where the system refuses.
  virtual void KeepShortName(const std::filesystem::path& target,
                             const KeptMetadata& kept) noexcept = 0;
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
