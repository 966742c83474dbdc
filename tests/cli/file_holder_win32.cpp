// Another program that holds a file open as a virus scanner, an indexer or a backup agent does:
// reading it and sharing it for reading only, so that nobody may delete, rename or replace it
// meanwhile.
//
// Usage: quorvik_file_holder PATH           holds PATH until its standard input ends
//        quorvik_file_holder --moment PATH  holds PATH until a finished new copy of it lies
//                                           beside it (PATH.*.tmp as long as PATH), so that a
//                                           replace is being tried, then about a second more
// Writes "held" on its standard output once it holds the file; exits 1 if it cannot open it.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kPollMs = 10;
constexpr DWORD kMomentMs = 1000;

ULONGLONG SizeOf(const WIN32_FIND_DATAW& found) {
  return (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// True when a file named NAME.*.tmp of `size` bytes lies beside PATH, whose file name is NAME,
// with no dot in place of the star: the new copy of PATH, not that of PATH.orig.
bool FinishedCopyBeside(const std::wstring& path, ULONGLONG size) {
  const std::wstring pattern = path + L".*.tmp";
  const std::size_t nameStart = path.find_last_of(L"\\/") + 1;
  const std::size_t starAt = path.size() - nameStart + 1;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool finished = false;
  do {
    const std::wstring name = found.cFileName;
    const bool ours = name.find(L'.', starAt) == name.size() - 4;
    finished = ours && SizeOf(found) == size;
  } while (!finished && FindNextFileW(search, &found));
  FindClose(search);
  return finished;
}

void WaitForEndOfInput() {
  char ignored[64];
  DWORD got = 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, ignored, sizeof ignored, &got, nullptr) && got > 0) {
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool moment = argc == 3 && std::wcscmp(argv[1], L"--moment") == 0;
  if (argc != 2 && !moment) return 2;
  const std::wstring path = argv[argc - 1];
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);

  if (moment) {
    while (!FinishedCopyBeside(path, static_cast<ULONGLONG>(size.QuadPart))) Sleep(kPollMs);
    Sleep(kMomentMs);
  } else {
    WaitForEndOfInput();
  }
  CloseHandle(file);
  return 0;
}
