// quorvik-patch on a program file that another program holds open, as a virus scanner, an
// indexer or a backup agent does: for a moment, or throughout.
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "companion_fixture.h"
#include "file_error.h"
#include "win32_resources.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kHolderLimitMs = 60'000;

// quorvik_file_holder holding a file; let go of and waited for when the test ends.
class FileHolder {
 public:
  enum class Hold { Throughout, ForAMomentDuringTheReplace };
  // How it holds the file: the holder's option (--reading, --exclusive, --writing, --running).
  // For --running the file must be a copy of the holder, which it runs.
  FileHolder(const fs::path& file, Hold hold, const std::wstring& how = L"--reading") {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr, outputRead = nullptr, outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inheritable, 0) ||
        !CreatePipe(&outputRead, &outputWrite, &inheritable, 0)) {
      throw std::runtime_error("CreatePipe failed");
    }
    const UniqueHandle childInput(inputRead), childOutput(outputWrite);
    input_.Reset(inputWrite);
    const UniqueHandle output(outputRead);
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);

    const std::wstring program =
        how == L"--running" ? file.wstring() : std::wstring(QUORVIK_FILE_HOLDER_PROGRAM);
    std::wstring commandLine = L"\"" + program + L"\" " + how;
    if (hold == Hold::ForAMomentDuringTheReplace) commandLine += L" --moment";
    commandLine += L" \"" + file.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput.get();
    startup.hStdOutput = childOutput.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
      throw std::runtime_error("could not start the file holder");
    }
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    id_ = info.dwProcessId;
    // Its ends of the pipes go with `childInput` and `childOutput`, so the read below ends if the
    // holder ends without holding the file.
    char said[5] = {};
    DWORD got = 0;
    ReadFile(output.get(), said, sizeof said, &got, nullptr);
    if (std::string(said, got) != "held\n") throw std::runtime_error("the holder holds nothing");
  }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;
  ~FileHolder() {
    input_.Reset();
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), kHolderLimitMs);
  }

  DWORD id() const { return id_; }

  // Ends the hold and waits for the holder to end; its exit code, or nullopt if it did not end.
  std::optional<DWORD> ExitCode() {
    input_.Reset();
    if (WaitForSingleObject(process_.get(), kHolderLimitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  UniqueHandle process_;
  UniqueHandle input_;
  DWORD id_ = 0;
};

class HeldFileTest : public CompanionTest {
 protected:
  // The program file that `how` holds: for a running program a copy of the holder, whose
  // string table holds the product's texts; otherwise the English sample.
  fs::path TargetFor(const std::wstring& how) const {
    if (how != L"--running") return WriteTarget(EnglishSample());
    const fs::path target = folder_ / "Quorvik.exe";
    fs::copy_file(QUORVIK_FILE_HOLDER_PROGRAM, target);
    return target;
  }
};

TEST_F(HeldFileTest, AFileHeldForAMomentIsUpdatedOnceTheOtherProgramLetsGo) {
  // A scanner reading the file, and the product itself running from it.
  for (const std::wstring how : {L"--reading", L"--running"}) {
    SCOPED_TRACE(PathToUtf8(how));
    const fs::path target = TargetFor(how);
    const Bytes original = ReadBytes(target);
    FileHolder holder(target, FileHolder::Hold::ForAMomentDuringTheReplace, how);

    const ProcessResult result = Run({"patch", "--backup", target});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_FALSE(result.out.empty());
    EXPECT_EQ(Lines(result.out).front(), kCompletedText);
    EXPECT_EQ(result.err, "");
    // The holder let go only once the finished copy lay beside the file: the replace was tried
    // while the file was held.
    EXPECT_EQ(holder.ExitCode(), 0u);
    EXPECT_NE(ReadBytes(target), original);
    EXPECT_EQ(ReadBytes(fs::path(target) += ".orig"), original);
    EXPECT_EQ(folder_.Entries(), (std::vector<fs::path>{"Quorvik.exe", "Quorvik.exe.orig"}));
    fs::remove(target);
    fs::remove(fs::path(target) += ".orig");
  }
}

TEST_F(HeldFileTest, AFileHeldThroughoutFailsSayingItIsInUseAndIsLeftAsItWas) {
  // Held by a scanner, by a program that lets nobody even read it, and running as a program.
  for (const std::wstring how : {L"--reading", L"--exclusive", L"--running"}) {
    SCOPED_TRACE(PathToUtf8(how));
    const fs::path target = TargetFor(how);
    const Bytes original = ReadBytes(target);
    FileHolder holder(target, FileHolder::Hold::Throughout, how);

    const ProcessResult result = Run({"patch", "--backup", target});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("the file is in use by another program"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(PathToUtf8(target)), std::string::npos) << result.err;
    EXPECT_EQ(holder.ExitCode(), 0u);
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{"Quorvik.exe"});
    fs::remove(target);
  }
}

TEST_F(HeldFileTest, AProgramThatWritesToTheFileWhileTheUpdateWaitsKeepsItsWork) {
  const fs::path target = WriteTarget(EnglishSample());
  FileHolder holder(target, FileHolder::Hold::ForAMomentDuringTheReplace, L"--writing");

  const ProcessResult result = Run({"patch", "--backup", target});
  EXPECT_EQ(result.exitCode, 1) << result.out;
  EXPECT_NE(result.err.find("the file was changed by another program"), std::string::npos)
      << result.err;
  EXPECT_EQ(holder.ExitCode(), 0u);
  Bytes written = EnglishSample();
  written.back() = static_cast<std::uint8_t>(~written.back());
  EXPECT_EQ(ReadBytes(target), written);
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{"Quorvik.exe"});
}

}  // namespace
}  // namespace quorvik::testing
