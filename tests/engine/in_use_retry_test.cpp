// How long a step that finds its file held by another program keeps trying.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "file_error.h"

namespace quorvik {
namespace {

using std::chrono::milliseconds;

// A step that finds its file in use `busyTries` times, then ends as `last`; it records the
// pauses it is given.
struct ScriptedStep {
  int busyTries;
  TryOutcome last;
  int tries = 0;
  std::vector<milliseconds> pauses;

  TryOutcome Run() {
    return TryWhileInUse([this] { return ++tries <= busyTries ? TryOutcome::InUse : last; },
                         [this](milliseconds pause) { pauses.push_back(pause); });
  }
};

TEST(TryWhileInUse, AFileHeldForAMomentIsWaitedForBrieflyAndTheStepDone) {
  ScriptedStep step{.busyTries = 2, .last = TryOutcome::Done};
  EXPECT_EQ(step.Run(), TryOutcome::Done);
  EXPECT_EQ(step.tries, 3);
  ASSERT_EQ(step.pauses.size(), 2u);
  // A scanner that lets go at once costs the user no noticeable wait.
  EXPECT_LE(step.pauses[0] + step.pauses[1], milliseconds(200));
}

TEST(TryWhileInUse, AFileHeldThroughoutIsGivenUpOnAfterAboutFiveSeconds) {
  ScriptedStep step{.busyTries = 1000, .last = TryOutcome::Done};
  EXPECT_EQ(step.Run(), TryOutcome::InUse);
  EXPECT_EQ(step.tries, static_cast<int>(step.pauses.size()) + 1);
  const milliseconds total =
      std::accumulate(step.pauses.begin(), step.pauses.end(), milliseconds(0));
  EXPECT_GE(total, milliseconds(4500));
  EXPECT_LE(total, milliseconds(5500));
  // The pauses grow, so that a short hold costs little and a long one few tries, and none is so
  // long that a file let go waits for long.
  EXPECT_LE(step.pauses.front(), milliseconds(100));
  EXPECT_TRUE(std::is_sorted(step.pauses.begin(), step.pauses.end() - 1));
  EXPECT_LE(*std::ranges::max_element(step.pauses), milliseconds(1000));
}

TEST(TryWhileInUse, AnyOtherOutcomeEndsTheTriesAtOnce) {
  for (const TryOutcome outcome : {TryOutcome::Done, TryOutcome::Failed}) {
    ScriptedStep first{.busyTries = 0, .last = outcome};
    EXPECT_EQ(first.Run(), outcome);
    EXPECT_EQ(first.tries, 1);
    EXPECT_TRUE(first.pauses.empty());

    ScriptedStep later{.busyTries = 3, .last = outcome};
    EXPECT_EQ(later.Run(), outcome);
    EXPECT_EQ(later.tries, 4);
    EXPECT_EQ(later.pauses.size(), 3u);
  }
}

}  // namespace
}  // namespace quorvik
