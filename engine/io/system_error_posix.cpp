#include <cerrno>
#include <cstring>

#include "file_error.h"
#include "system_error.h"

namespace quorvik {

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

void ThrowLastError(const char* operation, const std::filesystem::path& path) {
  const int code = errno;
  throw FileError(operation, path, SystemErrorText(static_cast<unsigned long>(code)));
}

}  // namespace quorvik
