#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "file_error.h"
#include "file_search.h"
#include "platform.h"
#include "table_patch.h"

namespace quorvik {

// Replaces the content of the file at `path` with that of `original`, the file at `path` opened
// before, with `changes` written over it in order, so that, whatever fails and whenever the
// process stops, the file holds either all of its old bytes or all of the new ones: the new
// content is made in a temporary file beside it (FileOps::CopyContent, then only the changed
// bytes written), which is given what the old file keeps (KeptMetadata), flushed to disk and then
// renamed over it. `original` is closed before the rename, which Windows refuses over a file
// that this process holds open.
// If the file no longer has the stamp `original` had when it was opened, another program wrote
// to it meanwhile and nothing is replaced. Throws FileError on any failure, leaving the file as
// it was and no temporary file behind.
void RewriteFile(const std::filesystem::path& path, OpenedFile original,
                 std::span<const Replacement> changes, FileOps& ops = NativeFileOps());

// Creates the file `destination` holding the content of the open file `source`, keeping what a
// copy of the file `model` keeps, so that after a crash it either does not exist or is complete:
// the copy is made in a temporary file beside it, which is flushed to disk and then moved to its
// name. Never replaces an existing file: returns false, creating nothing, when `destination`
// exists. Throws FileError on any other failure, leaving no file behind.
bool CreateNewFileSafely(const std::filesystem::path& destination, const NativeFile& source,
                         const std::filesystem::path& model, FileOps& ops = NativeFileOps());

// What became of a file that was to be deleted, and the name it was left under.
struct Leftover {
  Removal removal;
  std::filesystem::path path;
};

// Deletes `file`, whose name a later run may give a new file (a backup's): first it is moved to a
// name of its own, so that if it cannot be deleted now, what Windows deletes when it next starts
// is this file and never a later one under its old name. Left where it is when it cannot be
// moved.
Leftover RemoveUnderNameOfItsOwn(FileOps& ops, const std::filesystem::path& file);

// Adds to `failure` what became of `file`, named as `what` ("The temporary file"), when it could
// not be deleted at once.
void NoteRemoval(FileError& failure, Removal removal, const std::string& what,
                 const std::filesystem::path& file);

}  // namespace quorvik
