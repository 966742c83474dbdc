#pragma once

// GoogleTest's place for a platform's own settings, for the Windows builds only. Their standard
// library (mingw-w64's win32 thread model, as the shipped programs use) has no std::mutex or
// std::condition_variable, which GoogleTest's Notification is built on; this one waits on a
// Windows event. GoogleTest uses it only to start threads of its own, which our tests never do.
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  ~Notification() { CloseHandle(event_); }

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace testing::internal
