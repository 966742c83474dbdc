#pragma once

#include <string_view>

namespace quorvik {

// Writes UTF-8 text to the standard output or error stream, in the form the stream's reader
// expects. Output to a stream that is closed or missing is dropped: the exit code still tells.
void WriteStdout(std::string_view utf8);
void WriteStderr(std::string_view utf8);

}  // namespace quorvik
