#include "unseen_drive.h"

namespace quorvik {
namespace {

// POSIX systems have neither drive letters nor elevation.
class PosixSessionView final : public SessionView {
 public:
  bool HasDrive(char) override { return false; }
  bool IsElevated() override { return false; }
};

}  // namespace

SessionView& NativeSessionView() {
  static PosixSessionView view;
  return view;
}

}  // namespace quorvik
