#pragma once

#include <filesystem>

#include "bytes.h"

namespace quorvik::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
  // Names of everything in the folder, for checking that nothing was left behind.
  std::vector<std::filesystem::path> Entries() const;

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, ByteView bytes);
Bytes ReadBytes(const std::filesystem::path& path);

}  // namespace quorvik::testing
