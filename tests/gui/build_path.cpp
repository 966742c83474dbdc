#include "build_path.h"

#include <string>

namespace quorvik::testing {

std::filesystem::path FromBuildPath(const char* path) {
  std::string windowsPath = path;
  if (windowsPath.starts_with('/')) windowsPath = "Z:" + windowsPath;
  return std::filesystem::path(windowsPath).make_preferred();
}

}  // namespace quorvik::testing
