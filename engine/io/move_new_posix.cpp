#include <unistd.h>

#include <cerrno>

#include "file_error.h"
#include "move_new.h"

namespace quorvik {

bool MoveWithoutReplacing(const std::filesystem::path& source,
                          const std::filesystem::path& destination) {
  // rename() would replace an existing file; link() refuses to, and the new name is complete
  // the moment it appears.
  if (::link(source.c_str(), destination.c_str()) != 0) {
    if (errno == EEXIST) return false;
    throw FileError("Could not create", destination, LastSystemErrorText());
  }
  ::unlink(source.c_str());
  return true;
}

}  // namespace quorvik
