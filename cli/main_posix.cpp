#include <filesystem>
#include <vector>

#include "companion.h"

int main(int argc, char** argv) {
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return quorvik::RunCompanion(arguments);
}
