// What Windows reads from quorvik-patch.exe before it runs: the manifest that decides whether its
// writes under Program Files go to the real file.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace quorvik::testing {
namespace {

std::string ManifestOf(const wchar_t* program) {
  const HMODULE module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::string text;
  if (const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes) text.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

TEST(ProgramFile, CarriesTheConfiguredManifest) {
  // The native manifest tests check that this manifest declares an execution level: without
  // one, Windows redirects the writes under Program Files of a 32-bit console program that is
  // not elevated to a per-user copy, and a patch would seem to work.
  const std::string manifest = ManifestOf(L"" QUORVIK_PATCH_PROGRAM);
  ASSERT_FALSE(manifest.empty()) << "quorvik-patch.exe carries no manifest";
  std::ifstream configured(QUORVIK_PATCH_MANIFEST, std::ios::binary);
  ASSERT_TRUE(configured) << "cannot read " << QUORVIK_PATCH_MANIFEST;
  EXPECT_EQ(manifest, std::string(std::istreambuf_iterator<char>(configured), {}));
}

}  // namespace
}  // namespace quorvik::testing
