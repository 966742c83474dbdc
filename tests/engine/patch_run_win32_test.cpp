// What only Windows can produce: device names, sharing modes, file attributes, long paths.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include "file_commands.h"
#include "file_error.h"
#include "file_in_use_win32.h"
#include "file_ops_win32.h"
#include "given_newer_functions.h"
#include "observed_file_ops.h"
#include "rewrite.h"
#include "sample_target.h"
#include "target_file_test.h"
#include "temp_folder.h"
#include "win32_support.h"

namespace quorvik {
namespace {

using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::WriteBytes;
using tools::MakeSampleTarget;

using Win32PatchRunTest = testing::TargetFileTest;

TEST_F(Win32PatchRunTest, CallsDeviceNamesInvalid) {
  for (const wchar_t* device : {L"CON", L"NUL", L"COM1", L"\\\\.\\PhysicalDrive0", L"CONIN$"}) {
    EXPECT_EQ(PatchRun(device), PatchOutcome::InvalidPath) << PathToUtf8(device);
  }
}

TEST_F(Win32PatchRunTest, AFileHeldOpenWithoutDeleteSharingIsLeftAsItWas) {
  // A running program's file is open this way; the replace must fail, not half-happen.
  WriteBytes(target_, english_);
  HANDLE holder = CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  try {
    // The pauses between tries take no time: the file is held in this process.
    PatchRun(target_, *Win32FileOpsWith(SystemMetadataCalls(), SystemNewerFunctions(),
                                        [](std::chrono::milliseconds) {}));
    ADD_FAILURE() << "a file held open was replaced";
  } catch (const FileError& error) {
    // The path as people know it, not the system's \\?\ form.
    EXPECT_EQ(error.path(), PathToUtf8(target_));
    EXPECT_TRUE(error.reason().starts_with("the file is in use by another program"))
        << error.reason();
    EXPECT_TRUE(error.fileLeftUnchanged());
  }
  CloseHandle(holder);
  EXPECT_EQ(ReadBytes(target_), english_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

TEST_F(Win32PatchRunTest, KeepsTheWorkOfASameSizeWriteThatPutTheOldTimeBack) {
  WriteBytes(target_, english_);
  OpenedFile loaded = OpenToRewrite(target_);
  WIN32_FILE_ATTRIBUTE_DATA before{};
  ASSERT_TRUE(GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &before));
  {
    // Written over in place, as a program may, and the modification time set back.
    HANDLE file = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::uint8_t changed = english_[0] ^ 0xFF;
    DWORD written = 0;
    const bool rewritten = WriteFile(file, &changed, 1, &written, nullptr) && written == 1 &&
                           SetFileTime(file, nullptr, nullptr, &before.ftLastWriteTime);
    CloseHandle(file);
    ASSERT_TRUE(rewritten);
  }
  // The same size and modification time: only the change time tells.
  WIN32_FILE_ATTRIBUTE_DATA after{};
  ASSERT_TRUE(GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &after));
  ASSERT_EQ(CompareFileTime(&after.ftLastWriteTime, &before.ftLastWriteTime), 0);
  ASSERT_EQ(after.nFileSizeLow, before.nFileSizeLow);
  EXPECT_THROW(RewriteWith(target_, std::move(loaded), italian_), FileError);
  EXPECT_NE(ReadBytes(target_), english_);
  EXPECT_EQ(std::filesystem::file_size(target_), english_.size());
}

// Once as Windows Vista and later do it, once as Windows XP, without the newer functions.
class KeepingAttributes : public testing::TargetFileTest,
                          public ::testing::WithParamInterface<bool> {
 protected:
  testing::GivenNewerFunctions newer_{!GetParam()};
  const std::unique_ptr<FileOps> ops_ = Win32FileOpsWith(SystemMetadataCalls(), newer_);
};

TEST_P(KeepingAttributes, KeepsAttributesAndCreationTime) {
  WriteBytes(target_, english_);
  FILETIME created{0x12345678, 0x01D00000};
  HANDLE file =
      CreateFileW(target_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(file, &created, nullptr, nullptr));
  CloseHandle(file);
  const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesW(target_.c_str(), attributes | FILE_ATTRIBUTE_ARCHIVE));
  WIN32_FILE_ATTRIBUTE_DATA before{};
  ASSERT_TRUE(GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &before));
  // Wine keeps these attributes in an extended attribute of the Linux file, which some file
  // systems cannot store (tmpfs before Linux 6.6), and cannot set a creation time at all: what
  // the rewrite asks Wine to set is checked on its own (KeptMetadataTest).
  const bool keepsAttributes = (before.dwFileAttributes & attributes) == attributes;
  const bool keepsCreationTimes = CompareFileTime(&before.ftCreationTime, &created) == 0;

  EXPECT_EQ(PatchRun(target_, *ops_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &data));
  if (keepsAttributes) {
    EXPECT_EQ(data.dwFileAttributes & attributes, attributes);
  }
  if (keepsCreationTimes) {
    EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &created), 0);
  }
  if (!keepsAttributes) GTEST_SKIP() << "this file system does not keep hidden or system";
}

INSTANTIATE_TEST_SUITE_P(NewerFunctions, KeepingAttributes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Hidden" : "Present";
                         });

// Folders nested so deep inside `parent` that a file in them has a path longer than MAX_PATH,
// removed again at the end, with the files named: the test folder's own clean-up cannot reach
// this deep.
class DeepFolder {
 public:
  DeepFolder(const std::filesystem::path& parent, std::vector<std::wstring> fileNames)
      : path_(L"\\\\?\\" + parent.wstring()), fileNames_(std::move(fileNames)) {
    for (int i = 0; i < kDepth; ++i) {
      path_ += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + i));
      created_ += CreateDirectoryW(path_.c_str(), nullptr) ? 1 : 0;
    }
  }
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;
  ~DeepFolder() {
    for (const std::wstring& name : fileNames_) EXPECT_TRUE(DeleteFileW(File(name).c_str()));
    for (int i = 0; i < created_; ++i) {
      EXPECT_TRUE(RemoveDirectoryW(path_.c_str()));
      path_.resize(path_.rfind(L'\\'));
    }
  }

  bool Created() const { return created_ == kDepth; }
  // The file's path with the \\?\ prefix, as only the system's own calls take it.
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  static constexpr int kDepth = 6;
  std::wstring path_;
  std::vector<std::wstring> fileNames_;
  int created_ = 0;
};

TEST_F(Win32PatchRunTest, PatchesAFileWhosePathIsLongerThanMaxPath) {
  const DeepFolder deep(folder_.path(), {L"Quorvik.exe"});
  ASSERT_TRUE(deep.Created());
  const std::wstring file = deep.File(L"Quorvik.exe");
  ASSERT_GT(file.size(), static_cast<std::size_t>(MAX_PATH));
  WriteBytes(file, english_);
  // The path as a user would type it, without the \\?\ prefix.
  EXPECT_EQ(PatchRun(file.substr(4)), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(file), italian_);
}

TEST_F(Win32PatchRunTest, KeepsABackupOfAFileWhosePathIsLongerThanMaxPath) {
  const DeepFolder deep(folder_.path(), {L"Quorvik.exe", L"Quorvik.exe.orig"});
  ASSERT_TRUE(deep.Created());
  const std::wstring file = deep.File(L"Quorvik.exe");
  WriteBytes(file, english_);
  const std::filesystem::path typed = file.substr(4);
  EXPECT_EQ(PatchFile(typed, BackupPathFor(typed)).outcome, PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(file), italian_);
  EXPECT_EQ(ReadBytes(deep.File(L"Quorvik.exe.orig")), english_);
}

TEST_F(Win32PatchRunTest, ATrailingBlankOrDotIsDroppedAsWindowsDoes) {
  for (const wchar_t* suffix : {L" ", L".", L". "}) {
    WriteBytes(target_, english_);
    std::filesystem::path typed = target_;
    typed += suffix;
    EXPECT_EQ(PatchRun(typed), PatchOutcome::Completed) << PathToUtf8(typed);
    EXPECT_EQ(ReadBytes(target_), italian_);
    EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }
}

TEST_F(Win32PatchRunTest, AFullDiskLeavesTheFileAsItWas) {
  // run_on_small_disk.sh mounts a 96 KiB file system and names it here; a 60 KiB program file
  // there leaves no room for its new copy.
  const wchar_t* smallDisk = _wgetenv(L"QUORVIK_SMALL_DISK");
  if (smallDisk == nullptr) GTEST_SKIP() << "no small disk: run through run_on_small_disk.sh";
  const std::filesystem::path target = std::filesystem::path(smallDisk) / "Quorvik.exe";
  const Bytes english = MakeSampleTarget({.fillerBytes = 5000});
  ASSERT_GT(english.size(), 60000u);
  WriteBytes(target, english);
  EXPECT_THROW(PatchRun(target), FileError);
  EXPECT_EQ(ReadBytes(target), english);
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(smallDisk)) {
    left.push_back(entry.path().filename());
  }
  EXPECT_EQ(left, std::vector<std::filesystem::path>{"Quorvik.exe"});
  std::filesystem::remove(target);
}

TEST_F(Win32PatchRunTest, AFileTooLargeForA32BitProcessIsAClearFailure) {
  if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit build has room for a 5 GiB file";
  // Offsets past 4 GiB do not fit the 32-bit program's sizes. A sparse file takes no disk space
  // for its 5 GiB.
  HANDLE file = CreateFileW(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER size{};
  size.QuadPart = 5LL << 30;
  const bool sized = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  ASSERT_TRUE(sized);
  EXPECT_THROW(PatchRun(target_), FileError);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(target_.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, 5ULL << 30);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

}  // namespace
}  // namespace quorvik
