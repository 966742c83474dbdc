#pragma once

// Windows only: steps on files that another program may hold open for a moment, as virus
// scanners, indexers and backup agents do.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

#include "win32_support.h"

namespace quorvik {

using Files = std::initializer_list<std::filesystem::path>;

// How the last try of a step on files ended.
struct StepResult {
  DWORD error = ERROR_SUCCESS;  // the system's error code; ERROR_SUCCESS when the step worked
  bool inUse = false;           // it failed because another program holds one of the files open
};

// How one try of a step on a file ended.
enum class TryOutcome {
  Done,
  InUse,  // another program holds the file open and keeps the step from working
  Failed,
};

// What waits between the tries of a step on a file in use, for as long as it is given.
using InUsePause = std::function<void(std::chrono::milliseconds)>;

// The pause that waits: Sleep.
InUsePause WaitingPause();

// Tries `step` again while it finds its file in use, calling `pause` before each new try. The
// pauses grow from 50 ms to 1 s and come to 5 s in all, so that a virus scanner, indexer or
// backup agent that holds the file for a moment has let go before the step gives up. Returns how
// the last try ended.
TryOutcome TryWhileInUse(const std::function<TryOutcome()>& step, const InUsePause& pause);

// Tries `step`, a step on `files` that returns the system's error code, again while another
// program holds one of the files open, with the pauses of TryWhileInUse, made by `pause`.
StepResult TryWhileFilesInUse(const InUsePause& pause, Files files,
                              const std::function<DWORD()>& step);

// The reason to give for a step on `files` that failed: that the file is in use by another
// program, naming the programs and their process ids where Windows (its Restart Manager, among
// `newer`) can tell, when that is why; otherwise the system's own message.
std::string FailureReason(const StepResult& result, Files files, NewerSystemFunctions& newer);

}  // namespace quorvik
