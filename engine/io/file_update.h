#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "file_ops.h"
#include "read_whole_file.h"

namespace quorvik {

// One file's bytes, read whole, to be changed in memory and then put back safely: the way every
// command that changes the product's file does it.
class FileUpdate {
 public:
  // Reads the file at `path`; nullopt when the path does not open for reading as a regular file,
  // as for an invalid path. Throws FileError when reading fails.
  static std::optional<FileUpdate> Read(const std::filesystem::path& path,
                                        FileOps& ops = NativeFileOps());

  std::span<std::uint8_t> bytes() { return {file_.bytes.data(), file_.bytes.size()}; }

  // Puts the bytes, as they are now, in place of the file's content, all or nothing, unless
  // another program changed the file after it was read. Throws FileError, leaving the file as
  // it was.
  void Rewrite();

 private:
  FileUpdate(const std::filesystem::path& path, FileOps& ops, LoadedFile file)
      : path_(path), ops_(ops), file_(std::move(file)) {}

  std::filesystem::path path_;
  FileOps& ops_;
  LoadedFile file_;
};

}  // namespace quorvik
