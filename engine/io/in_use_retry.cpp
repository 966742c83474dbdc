#include "in_use_retry.h"

#include <array>

namespace quorvik {
namespace {

using std::chrono::milliseconds;

constexpr std::array kPauses = {milliseconds(50),   milliseconds(100),  milliseconds(200),
                                milliseconds(400),  milliseconds(800),  milliseconds(1000),
                                milliseconds(1000), milliseconds(1000), milliseconds(450)};

}  // namespace

TryOutcome TryWhileInUse(const std::function<TryOutcome()>& step,
                         const std::function<void(milliseconds)>& pause) {
  TryOutcome outcome = step();
  for (const milliseconds wait : kPauses) {
    if (outcome != TryOutcome::InUse) break;
    pause(wait);
    outcome = step();
  }
  return outcome;
}

}  // namespace quorvik
