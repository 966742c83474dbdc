// Where the program may load DLLs from: never a DLL planted in the current folder, and, where
// the system offers SetDefaultDllDirectories, not from the program's own folder either. The
// steps change the process for good, so they run in order in one test.
#include "dll_search.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "given_newer_functions.h"
#include "temp_folder.h"
#include "win32_support.h"

namespace quorvik {
namespace {

constexpr wchar_t kBesideTheProgram[] = L"quorvik_planted.dll";
constexpr wchar_t kInTheCurrentFolder[] = L"quorvik_planted_here.dll";

std::filesystem::path ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

// Wine keeps the current folder in the search after SetDllDirectoryW(L""), which Windows takes
// out of it.
bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Whether LoadLibraryW finds the DLL by its bare name, unloading it again.
bool Loads(const wchar_t* name) {
  const HMODULE module = LoadLibraryW(name);
  if (!module) return false;
  const bool planted = GetProcAddress(module, "PlantedDllMarker") != nullptr;
  FreeLibrary(module);
  return planted;
}

TEST(DllSearch, LeavesOutTheCurrentFolderEverywhereAndTheProgramsFolderWhereItCan) {
  ASSERT_TRUE(std::filesystem::exists(ProgramFolder() / kBesideTheProgram));
  const testing::TempFolder folder;
  std::filesystem::copy_file(ProgramFolder() / kBesideTheProgram, folder / kInTheCurrentFolder);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.path());
  ASSERT_TRUE(Loads(kInTheCurrentFolder)) << "the current folder is searched by default";
  ASSERT_TRUE(Loads(kBesideTheProgram)) << "the program's folder is searched by default";

  // As on Windows XP, Vista and 7 without KB2533623: SetDllDirectoryW(L"") alone.
  testing::GivenNewerFunctions windowsXp(false);
  RestrictDllSearchToSystemFolder(windowsXp);
  if (!UnderWine()) {
    EXPECT_FALSE(Loads(kInTheCurrentFolder)) << "loaded from the current folder";
  }
  EXPECT_TRUE(Loads(kBesideTheProgram)) << "SetDefaultDllDirectories was used while hidden";

  RestrictDllSearchToSystemFolder();
  EXPECT_FALSE(Loads(kInTheCurrentFolder)) << "loaded from the current folder";
  EXPECT_FALSE(Loads(kBesideTheProgram)) << "loaded from the program's folder";
  const HMODULE systemDll = LoadLibraryW(L"version.dll");
  EXPECT_NE(systemDll, nullptr) << "the system folder is still searched";
  if (systemDll) FreeLibrary(systemDll);
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace quorvik
