#include <windows.h>

#include <stdexcept>
#include <string>

#include "process.h"
#include "win32_resources.h"
#include "win32_support.h"

namespace quorvik::testing {
namespace {

constexpr DWORD kTimeLimitMs = 60'000;
constexpr DWORD kReaderLimitMs = 10'000;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " failed with error " + std::to_string(GetLastError()));
}

// The pipe's write end is inherited by the child; the read end stays with this process.
struct Pipe {
  UniqueHandle read;
  UniqueHandle write;
};

void OpenPipe(Pipe& pipe) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 0)) Fail("CreatePipe");
  pipe.read.Reset(read);
  pipe.write.Reset(write);
  if (!SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) Fail("SetHandleInformation");
}

// Reads one pipe to its end on a thread of its own, so that neither pipe can fill up and stall
// the child while the other is read.
struct Reader {
  HANDLE pipe;
  std::string bytes;

  static DWORD WINAPI Run(void* self) {
    Reader& reader = *static_cast<Reader*>(self);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      reader.bytes.append(buffer, got);
    }
    return 0;
  }
};

// Quotes one argument so that the child's runtime splits the command line back into it exactly:
// backslashes are doubled only where they come before a quote.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace

ProcessResult RunProgram(const std::filesystem::path& program,
                         std::span<const std::filesystem::path> arguments) {
  std::wstring commandLine = Quoted(program.native());
  for (const auto& argument : arguments) commandLine += L" " + Quoted(argument.native());

  Pipe out, err;
  OpenPipe(out);
  OpenPipe(err);
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueHandle nothing(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!nothing) Fail("CreateFileW NUL");

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.get();
  startup.hStdOutput = out.write.get();
  startup.hStdError = err.write.get();
  PROCESS_INFORMATION info{};
  // No console for the child: it must work with pipes alone.
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info)) {
    Fail("CreateProcessW " + WideToUtf8(program.native()));
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  out.write.Reset();
  err.write.Reset();

  Reader readers[] = {{out.read.get(), {}}, {err.read.get(), {}}};
  UniqueHandle readerThreads[2];
  for (int i = 0; i < 2; ++i) {
    readerThreads[i].Reset(CreateThread(nullptr, 0, &Reader::Run, &readers[i], 0, nullptr));
    if (readerThreads[i].get() == nullptr) Fail("CreateThread");
  }
  const bool ended = WaitForSingleObject(process.get(), kTimeLimitMs) == WAIT_OBJECT_0;
  // Ending the child closes its ends of the pipes, which ends the readers.
  if (!ended) TerminateProcess(process.get(), 1);
  const HANDLE threads[] = {readerThreads[0].get(), readerThreads[1].get()};
  const bool drained = WaitForMultipleObjects(2, threads, TRUE, kReaderLimitMs) == WAIT_OBJECT_0;
  if (!drained) {
    // Something else holds the pipes open; the readers must not outlive `readers`.
    for (const HANDLE reader : threads) TerminateThread(reader, 1);
    throw std::runtime_error("the program's output did not end in time");
  }
  if (!ended) throw std::runtime_error("the program did not end in time");

  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) Fail("GetExitCodeProcess");
  return {static_cast<int>(exitCode), std::move(readers[0].bytes), std::move(readers[1].bytes)};
}

// Windows programs take the zone from the system's settings, which are the whole machine's.
bool StartProgramsInTimeZone(const char*) { return false; }

}  // namespace quorvik::testing
