#pragma once

#include <filesystem>
#include <string>

namespace quorvik {

// The operating system's message for an error code (errno, or GetLastError() on Windows).
std::string SystemErrorText(unsigned long code);

// Throws FileError for `operation` on `path`, giving the system's reason for the failure of the
// call just made. Call it right after that call: it reads the error code before anything else
// can change it.
[[noreturn]] void ThrowLastError(const char* operation, const std::filesystem::path& path);

}  // namespace quorvik
