#pragma once

#include <filesystem>

namespace quorvik::testing {

// A build path as the test programs see it under Wine: Unix paths live on drive Z:.
std::filesystem::path FromBuildPath(const char* path);

}  // namespace quorvik::testing
