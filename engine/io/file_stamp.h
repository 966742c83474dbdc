#pragma once

#include <cstdint>

namespace quorvik {

// What identifies one version of a file's content: if any of it differs, another program wrote
// to the file or put another file in its place.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's own units
  // Which file it is (POSIX: device and inode; Windows: volume serial number and file index),
  // so that a file saved in its place with the same size and time is noticed too.
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // When the file's content or attributes last changed, which the system sets whenever either
  // changes, so that a write that put the modification time back is still noticed. No program
  // can set it on POSIX systems; on Windows a program would have to set it on purpose.
  std::int64_t changed = 0;

  bool operator==(const FileStamp&) const = default;
};

}  // namespace quorvik
