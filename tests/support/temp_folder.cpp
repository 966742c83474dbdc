#include "temp_folder.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace quorvik::testing {

TempFolder::TempFolder() {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = std::filesystem::temp_directory_path() / ("quorvik-test-" + std::to_string(entropy()));
    if (std::filesystem::create_directory(path_)) return;
  }
  throw std::runtime_error("could not create a temporary test folder");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Permissions a test took away must not keep the folder from being removed.
  for (auto entry = std::filesystem::recursive_directory_iterator(path_, ignored);
       entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored)) {
    std::filesystem::permissions(entry->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::filesystem::path> TempFolder::Entries() const {
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename());
  }
  std::ranges::sort(names);
  return names;
}

void WriteBytes(const std::filesystem::path& path, ByteView bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("could not write " + path.string());
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("could not open " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace quorvik::testing
