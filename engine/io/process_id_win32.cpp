#include <windows.h>

#include "process_id.h"

namespace quorvik {

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace quorvik
