#include <windows.h>

#include "file_error.h"
#include "move_new.h"

namespace quorvik {

bool MoveWithoutReplacing(const std::filesystem::path& source,
                          const std::filesystem::path& destination) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  if (MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  throw FileError("Could not create", destination, SystemErrorText(error));
}

}  // namespace quorvik
