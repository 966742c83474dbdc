// The file work as Windows XP does it: without the functions that came with Vista and later,
// which Wine always has. The file work is given none of them.
#include <gtest/gtest.h>
#include <windows.h>

#include "file_commands.h"
#include "file_error.h"
#include "file_ops_win32.h"
#include "given_newer_functions.h"
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

TEST(NewerSystemFunction, FindsWhatTheSystemHas) {
  const char* name = "GetFinalPathNameByHandleW";
  ASSERT_NE(KernelFunction(name), nullptr) << "this system is older than Vista";
  NewerSystemFunctions& system = SystemNewerFunctions();
  EXPECT_EQ(system.Find(L"kernel32.dll", name), KernelFunction(name));
  EXPECT_EQ(system.Find(L"kernel32.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(system.Find(L"no-such-module.dll", name), nullptr);
}

TEST(NewerSystemFunction, LoadsADllNotYetLoadedFromTheSystemFolderAndKeepsIt) {
  // Nothing else in this program loads it.
  ASSERT_EQ(GetModuleHandleW(L"version.dll"), nullptr) << "version.dll is loaded already";
  EXPECT_NE(SystemNewerFunctions().Find(L"version.dll", "GetFileVersionInfoSizeW"), nullptr);
  const HMODULE loaded = GetModuleHandleW(L"version.dll");
  ASSERT_NE(loaded, nullptr) << "not kept loaded";
  wchar_t file[MAX_PATH] = {};
  GetModuleFileNameW(loaded, file, MAX_PATH);
  wchar_t systemFolder[MAX_PATH] = {};
  GetSystemDirectoryW(systemFolder, MAX_PATH);
  EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(systemFolder));
}

class WithoutNewerFunctions : public testing::TargetFileTest {
 protected:
  testing::GivenNewerFunctions windowsXp_{false};
  const std::unique_ptr<FileOps> ops_ = Win32FileOpsWith(SystemMetadataCalls(), windowsXp_);
};

TEST_F(WithoutNewerFunctions, TheFullPathAsTypedIsTheFileToReplace) {
  // With GetFinalPathNameByHandleW the system names the file as it is stored; without it, as
  // typed, which names the same file on a system that has no links to files.
  WriteBytes(target_, english_);
  const std::filesystem::path typed = folder_ / "QUORVIK.EXE";
  EXPECT_EQ(ops_->OpenTarget(typed).path, std::filesystem::path(FullPath(typed)));
  EXPECT_EQ(ops_->OpenTarget(typed).path.filename(), "QUORVIK.EXE");

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path());
  const std::filesystem::path resolved = ops_->OpenTarget("sub\\..\\Quorvik.exe").path;
  std::filesystem::current_path(previous);
  EXPECT_EQ(resolved, target_);
}

TEST_F(WithoutNewerFunctions, AMissingFileIsStillNotFound) {
  EXPECT_THROW(ops_->OpenTarget(target_), FileError);
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
  WriteBytes(file, english_);

  EXPECT_EQ(PatchRun(file.substr(4), *ops_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(file), italian_);
  EXPECT_TRUE(DeleteFileW(file.c_str()));
  for (auto at = created.rbegin(); at != created.rend(); ++at) {
    EXPECT_TRUE(RemoveDirectoryW(at->c_str()));
  }
}

}  // namespace
}  // namespace quorvik
