#pragma once

#include <windows.h>

#include <chrono>

namespace quorvik::testing {

// Long enough for a slow CI machine starting Wine; a test that needs it all has failed anyway.
inline constexpr std::chrono::milliseconds kGenerousTimeout{30000};

// Polls `condition` until it holds or `timeout` has passed. True when it held.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = kGenerousTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace quorvik::testing
