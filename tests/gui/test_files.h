#pragma once

#include <filesystem>

#include "bytes.h"

namespace quorvik::testing {

// A fresh folder for one test's files, removed with everything in it afterwards.
class TestFolder {
 public:
  TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  ~TestFolder();

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFileBytes(const std::filesystem::path& path, ByteView bytes);
Bytes ReadFileBytes(const std::filesystem::path& path);

// A build path as the test programs see it under Wine: Unix paths live on drive Z:.
std::filesystem::path FromBuildPath(const char* path);

}  // namespace quorvik::testing
