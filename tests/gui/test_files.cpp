#include "test_files.h"

#include <windows.h>

#include <fstream>
#include <stdexcept>
#include <string>

namespace quorvik::testing {

TestFolder::TestFolder() {
  const auto base = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    path_ = base / ("quorvik-gui-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount()) + "-" + std::to_string(attempt));
    if (std::filesystem::create_directory(path_)) return;
  }
  throw std::runtime_error("could not create a test folder");
}

TestFolder::~TestFolder() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::filesystem::path& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("could not write " + path.string());
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("could not open " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path FromBuildPath(const char* path) {
  std::string windowsPath = path;
  if (windowsPath.starts_with('/')) windowsPath = "Z:" + windowsPath;
  return std::filesystem::path(windowsPath).make_preferred();
}

}  // namespace quorvik::testing
