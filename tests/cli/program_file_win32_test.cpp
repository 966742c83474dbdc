// What Windows reads from quorvik-patch.exe before it runs: the manifest that decides whether its
// writes under Program Files go to the real file.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "xml_document.h"

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

TEST(ProgramFile, DeclaresItsExecutionLevelSoWritesAreNeverRedirected) {
  // Without a declared level, Windows runs a 32-bit console program that is not elevated with
  // its writes under Program Files redirected to a per-user copy, and a patch would seem to work.
  const std::string manifest = ManifestOf(L"" QUORVIK_PATCH_PROGRAM);
  ASSERT_FALSE(manifest.empty()) << "quorvik-patch.exe carries no manifest";
  XmlElement root;
  ASSERT_NO_THROW(root = ParseXmlDocument(manifest)) << manifest;
  EXPECT_EQ(root.namespaceUri, kAssemblyV1);
  EXPECT_EQ(root.localName, "assembly");
  const auto level = root.Descendants({{kAssemblyV3, "trustInfo"},
                                       {kAssemblyV3, "security"},
                                       {kAssemblyV3, "requestedPrivileges"},
                                       {kAssemblyV3, "requestedExecutionLevel"}});
  ASSERT_EQ(level.size(), 1u) << manifest;
  EXPECT_EQ(level[0]->attributes,
            (std::map<std::string, std::string>{{"level", "asInvoker"}, {"uiAccess", "false"}}));
}

}  // namespace
}  // namespace quorvik::testing
