// Another program that holds a file open, in one of these ways:
//   --reading    as a virus scanner, an indexer or a backup agent does: reading it and sharing it
//                for reading only, so that nobody may delete, rename or replace it meanwhile;
//   --exclusive  sharing it with nobody, so that it cannot even be read;
//   --writing    as an editor or installer does: with write access, sharing reading and writing
//                but not deletion; it writes one byte (the last, inverted) before it lets go;
//   --running    as a running program holds its own file: PATH is a copy of this program, which
//                then opens nothing. Its string table holds the product's texts, so that it can
//                be patched.
//
// Usage: quorvik_file_holder HOW PATH           holds PATH until its standard input ends
//        quorvik_file_holder HOW --moment PATH  holds PATH until a finished new copy of it lies
//                                               beside it (PATH.*.tmp as long as PATH), so that
//                                               a replace is being tried, then about a second more
// Writes "held" on its standard output once it holds the file; exits 1 if it cannot open it.
#include <windows.h>

#include <cstdint>
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

// Writes the file's last byte inverted.
void WriteLastByte(HANDLE file, LONGLONG size) {
  LARGE_INTEGER last{};
  last.QuadPart = size - 1;
  std::uint8_t byte = 0;
  DWORD done = 0;
  SetFilePointerEx(file, last, nullptr, FILE_BEGIN);
  ReadFile(file, &byte, 1, &done, nullptr);
  byte = static_cast<std::uint8_t>(~byte);
  SetFilePointerEx(file, last, nullptr, FILE_BEGIN);
  WriteFile(file, &byte, 1, &done, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool moment = argc == 4 && std::wcscmp(argv[2], L"--moment") == 0;
  if (argc != 3 && !moment) return 2;
  const std::wstring how = argv[1];
  const std::wstring path = argv[argc - 1];
  DWORD access = GENERIC_READ;
  DWORD sharing = FILE_SHARE_READ;
  if (how == L"--exclusive") {
    sharing = 0;
  } else if (how == L"--writing") {
    access |= GENERIC_WRITE;
    sharing |= FILE_SHARE_WRITE;
  } else if (how == L"--running") {
    access = FILE_READ_ATTRIBUTES;
    sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  } else if (how != L"--reading") {
    return 2;
  }
  HANDLE file = CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  // A running program holds no handle to its file; its image keeps the file.
  if (how == L"--running") {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);

  if (moment) {
    while (!FinishedCopyBeside(path, static_cast<ULONGLONG>(size.QuadPart))) Sleep(kPollMs);
    Sleep(kMomentMs);
  } else {
    WaitForEndOfInput();
  }
  if (how == L"--writing") WriteLastByte(file, size.QuadPart);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return 0;
}
