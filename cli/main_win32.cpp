#include <filesystem>
#include <vector>

#include "companion.h"
#include "win32_support.h"

// The arguments arrive as UTF-16, so any path the system can name reaches the engine unchanged.
int wmain(int argc, wchar_t** argv) {
  quorvik::RestrictDllSearchToSystemFolder();
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return quorvik::RunCompanion(arguments);
}
