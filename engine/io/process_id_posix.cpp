#include <unistd.h>

#include "process_id.h"

namespace quorvik {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace quorvik
