#pragma once

// Windows only.
#include <filesystem>
#include <string>

namespace quorvik {

// The full path of `path`, as the system resolves it against the current folder.
std::wstring FullPath(const std::filesystem::path& path);

// The form of `path` to give the system's file calls: paths too long for the usual limits only
// work in their full form behind the \\?\ prefix; shorter ones are passed exactly as given, so
// the system resolves them as it always does.
std::wstring SystemPath(const std::filesystem::path& path);

// The form people know, "C:\..." or "\\server\...", of a path the system gave with the "\\?\"
// prefix.
std::wstring WithoutExtendedPrefix(const std::wstring& path);

}  // namespace quorvik
