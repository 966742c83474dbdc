#pragma once

namespace quorvik {

unsigned long CurrentProcessId();

}  // namespace quorvik
