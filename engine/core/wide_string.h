#pragma once

#include <string_view>

#include "bytes.h"

namespace quorvik {

// The form in which the product stores its texts: each character's code followed by one zero
// byte (UTF-16LE for ASCII text).
Bytes WidenString(std::string_view text);

}  // namespace quorvik
