#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace quorvik {

// A file failure the patch run does not expect: what was being done, to which file, and the
// operating system's own words for why it failed.
class FileError : public std::runtime_error {
 public:
  FileError(std::string operation, const std::filesystem::path& path, std::string reason);

  const std::string& operation() const { return operation_; }
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string operation_;
  std::string path_;
  std::string reason_;
};

std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace quorvik
