#pragma once

#include <string>
#include <string_view>

namespace quorvik {

// Conversions between UTF-8 (the engine's messages) and UTF-16 (the Windows W APIs). Windows
// builds only.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace quorvik
