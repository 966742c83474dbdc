#pragma once

#include <filesystem>
#include <string>

#include "bytes.h"
#include "file_error.h"
#include "file_ops.h"

namespace quorvik {

// A new file beside a destination, under a name no other file has, that holds bytes on their
// way to the destination's name. Unless it was moved into place, it is closed and deleted when
// it goes out of scope (closed first: Windows cannot delete a file that is still open).
class TemporaryFile {
 public:
  // A file that will keep `kept`, read from the file it replaces or copies. Throws FileError
  // when no unused name can be created.
  TemporaryFile(FileOps& ops, const std::filesystem::path& destination, const KeptMetadata& kept);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::filesystem::path& path() const { return path_; }

  // Writes the bytes, gives the file what it keeps, flushes it to disk and closes it. Throws
  // FileError when any of it fails.
  void Save(ByteView bytes);

  // The file has been moved to its destination and is no longer deleted.
  void Commit() { settled_ = true; }

  // Closes and deletes the file now, after `failure`, which then tells what became of the file
  // if it could not be deleted at once.
  void Discard(FileError& failure);

 private:
  FileOps& ops_;
  const KeptMetadata& kept_;
  std::filesystem::path path_;
  NativeFile file_;
  bool settled_ = false;  // moved into place, or discarded already
};

// Adds to `failure` what became of `file`, named as `what` ("The temporary file"), when it could
// not be deleted at once.
void NoteRemoval(FileError& failure, Removal removal, const std::string& what,
                 const std::filesystem::path& file);

}  // namespace quorvik
