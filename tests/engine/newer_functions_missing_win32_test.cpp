// The file work as Windows XP does it: without the functions that came with Vista and later,
// which Wine always has. NewerSystemFunctionsHidden makes the program look them up in vain.
#include <gtest/gtest.h>
#include <windows.h>

#include "file_commands.h"
#include "file_error.h"
#include "platform.h"
#include "target_file_test.h"
#include "temp_folder.h"
#include "win32_support.h"

namespace quorvik {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

void* KernelFunction(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name));
}

TEST(NewerSystemFunction, FindsWhatTheSystemHasExceptWhileHidden) {
  const char* name = "GetFinalPathNameByHandleW";
  ASSERT_NE(KernelFunction(name), nullptr) << "this system is older than Vista";
  EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), KernelFunction(name));
  EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(FindNewerSystemFunction(L"no-such-module.dll", name), nullptr);
  {
    const NewerSystemFunctionsHidden hidden;
    EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), nullptr);
    { const NewerSystemFunctionsHidden again; }
    EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), nullptr) << "nested scopes";
  }
  EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), KernelFunction(name));
}

TEST(NewerSystemFunction, LoadsADllNotYetLoadedFromTheSystemFolderAndKeepsIt) {
  // Nothing else in this program loads it.
  ASSERT_EQ(GetModuleHandleW(L"version.dll"), nullptr) << "version.dll is loaded already";
  EXPECT_NE(FindNewerSystemFunction(L"version.dll", "GetFileVersionInfoSizeW"), nullptr);
  const HMODULE loaded = GetModuleHandleW(L"version.dll");
  ASSERT_NE(loaded, nullptr) << "not kept loaded";
  wchar_t file[MAX_PATH] = {};
  GetModuleFileNameW(loaded, file, MAX_PATH);
  wchar_t systemFolder[MAX_PATH] = {};
  GetSystemDirectoryW(systemFolder, MAX_PATH);
  EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(systemFolder));
}

int WINAPI StandIn() { return 42; }

TEST(NewerSystemFunction, AReplacementStandsInWhileItLivesEvenWhereTheFunctionIsHidden) {
  const char* name = "GetFinalPathNameByHandleW";
  {
    const NewerSystemFunctionReplaced replaced(name, reinterpret_cast<void*>(&StandIn));
    EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), reinterpret_cast<void*>(&StandIn));
    const NewerSystemFunctionsHidden hidden;
    EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), reinterpret_cast<void*>(&StandIn));
    EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", "GetTickCount64"), nullptr);
  }
  EXPECT_EQ(FindNewerSystemFunction(L"kernel32.dll", name), KernelFunction(name));
}

class WithoutNewerFunctions : public testing::TargetFileTest {
 protected:
  const NewerSystemFunctionsHidden hidden_;
};

TEST_F(WithoutNewerFunctions, TheFullPathAsTypedIsTheFileToReplace) {
  // With GetFinalPathNameByHandleW the system names the file as it is stored; without it, as
  // typed, which names the same file on a system that has no links to files.
  WriteBytes(target_, english_);
  const std::filesystem::path typed = folder_ / "QUORVIK.EXE";
  EXPECT_EQ(NativeFileOps().OpenTarget(typed).path, std::filesystem::path(FullPath(typed)));
  EXPECT_EQ(NativeFileOps().OpenTarget(typed).path.filename(), "QUORVIK.EXE");

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path());
  const std::filesystem::path resolved = NativeFileOps().OpenTarget("sub\\..\\Quorvik.exe").path;
  std::filesystem::current_path(previous);
  EXPECT_EQ(resolved, target_);
}

TEST_F(WithoutNewerFunctions, AMissingFileIsStillNotFound) {
  EXPECT_THROW(NativeFileOps().OpenTarget(target_), FileError);
}

TEST_F(WithoutNewerFunctions, PatchesAFileWhosePathIsLongerThanMaxPath) {
  // Folders nested past MAX_PATH: the full path goes to the system behind the \\?\ prefix.
  std::wstring folder = L"\\\\?\\" + folder_.path().wstring();
  std::vector<std::wstring> created;
  while (folder.size() < MAX_PATH + 20) {
    folder += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + created.size()));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    created.push_back(folder);
  }
  const std::wstring file = folder + L"\\Quorvik.exe";
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(out, english_.data(), static_cast<DWORD>(english_.size()), &written, nullptr);
  CloseHandle(out);

  EXPECT_EQ(PatchRun(file.substr(4)), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(file), italian_);
  EXPECT_TRUE(DeleteFileW(file.c_str()));
  for (auto at = created.rbegin(); at != created.rend(); ++at) {
    EXPECT_TRUE(RemoveDirectoryW(at->c_str()));
  }
}

}  // namespace
}  // namespace quorvik
