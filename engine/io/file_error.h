#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quorvik {

// A file failure the patch run does not expect: what was being done, to which file, and the
// operating system's own words for why it failed; then, where there is any, what the failure
// left behind.
class FileError : public std::runtime_error {
 public:
  FileError(std::string operation, const std::filesystem::path& path, std::string reason);

  const char* what() const noexcept override { return text_.c_str(); }
  const std::string& operation() const { return operation_; }
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

  // Whether the product's file is known to be as it was before. Every step before the one that
  // replaces the file leaves it so; only a replace that reported failure and left the file in a
  // state that could not be checked does not.
  bool fileLeftUnchanged() const { return fileLeftUnchanged_; }

  // Adds a sentence about what the failure left behind, such as a file that could not be
  // deleted.
  void AddAftermath(const std::string& sentence);
  // The failure came from the replace and whether the file was replaced could not be checked.
  void MarkFileStateUnknown();

 private:
  std::string operation_;
  std::string path_;
  std::string reason_;
  std::string text_;
  bool fileLeftUnchanged_ = true;
};

// Another program kept the file from being opened to read it for as long as the wait for it
// lasted: a file in use, where an opening that fails for any other reason is an invalid path.
class FileHeldError : public FileError {
 public:
  using FileError::FileError;
};

std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace quorvik
