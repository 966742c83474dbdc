#pragma once

#include <chrono>
#include <functional>

namespace quorvik {

// How one try of a step on a file ended.
enum class TryOutcome {
  Done,
  InUse,  // another program holds the file open and keeps the step from working
  Failed,
};

// Tries `step` again while it finds its file in use, calling `pause` before each new try. The
// pauses grow from 50 ms to 1 s and come to 5 s in all, so that a virus scanner, indexer or
// backup agent that holds the file for a moment has let go before the step gives up. Returns how
// the last try ended.
TryOutcome TryWhileInUse(const std::function<TryOutcome()>& step,
                         const std::function<void(std::chrono::milliseconds)>& pause);

}  // namespace quorvik
