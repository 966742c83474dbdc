#include "long_path_win32.h"

#include <windows.h>

namespace quorvik {
namespace {

// The system's limit for a folder's path is MAX_PATH - 12, which leaves room for an 8.3 file
// name in it; paths from there on take the long form, so that no call meets either limit.
constexpr std::size_t kLongestShortForm = MAX_PATH - 12;

}  // namespace

std::wstring FullPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(given.c_str(), size, full.data(), nullptr));
  return full;
}

std::wstring SystemPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  if (given.size() < kLongestShortForm || given.starts_with(L"\\\\?\\")) return given;
  const std::wstring full = FullPath(path);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring WithoutExtendedPrefix(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

}  // namespace quorvik
