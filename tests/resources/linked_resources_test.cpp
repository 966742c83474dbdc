// The resources as linked into a program from quorvik_resources: the generated pictures byte for
// byte, the icon as the program-file icon, the version record, and the application manifest as
// configured.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bytes.h"
#include "quorvik_version.h"
#include "resource_ids.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

ByteView ResourceBytes(LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(nullptr, name, type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(nullptr, found)};
}

TEST(LinkedResources, FlagBitmapIsTheGeneratedPicture) {
  const Bytes file = testing::ReadBytes(QUORVIK_FLAG_BITMAP_PATH);
  const ByteView resource = ResourceBytes(MAKEINTRESOURCEW(IDB_FLAG), RT_BITMAP);
  // A bitmap resource is the .bmp file without its 14-byte file header.
  ASSERT_EQ(resource.size() + 14, file.size());
  EXPECT_TRUE(std::equal(resource.begin(), resource.end(), file.begin() + 14));
}

TEST(LinkedResources, FlagBitmapLoadsAs75By56With4BitsPerPixel) {
  HANDLE image = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_FLAG), IMAGE_BITMAP, 0,
                            0, LR_CREATEDIBSECTION);
  ASSERT_NE(image, nullptr);
  DIBSECTION section{};
  ASSERT_EQ(GetObjectW(image, sizeof(section), &section), static_cast<int>(sizeof(section)));
  EXPECT_EQ(section.dsBm.bmWidth, 75);
  EXPECT_EQ(section.dsBm.bmHeight, 56);
  EXPECT_EQ(section.dsBm.bmBitsPixel, 4);
  DeleteObject(image);
}

TEST(LinkedResources, IconIsTheGeneratedIcon) {
  const Bytes file = testing::ReadBytes(QUORVIK_APP_ICON_PATH);
  // The group resource names the one image, 32 x 32 with 16 colours at 4 bits per pixel.
  const ByteView group = ResourceBytes(MAKEINTRESOURCEW(IDI_APP_ICON), RT_GROUP_ICON);
  ASSERT_EQ(group.size(), 6u + 14u);
  EXPECT_EQ(group[4], 1) << "one image";
  EXPECT_EQ(group[6], 32);
  EXPECT_EQ(group[7], 32);
  EXPECT_EQ(group[8], 16);
  EXPECT_EQ(group[12], 4) << "bits per pixel";
  const int imageId = group[18] | (group[19] << 8);
  const ByteView image = ResourceBytes(MAKEINTRESOURCEW(imageId), RT_ICON);
  // The image resource is the .ico file after its 6-byte header and 16-byte directory entry.
  ASSERT_EQ(image.size() + 22, file.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + 22));
}

BOOL CALLBACK CollectIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  if (IS_INTRESOURCE(name)) {
    reinterpret_cast<std::vector<int>*>(found)->push_back(
        static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
  }
  return TRUE;
}

TEST(LinkedResources, IconHasTheLowestIconIdSoExplorerShowsIt) {
  std::vector<int> groups;
  EnumResourceNamesW(nullptr, RT_GROUP_ICON, CollectIconGroup, reinterpret_cast<LONG_PTR>(&groups));
  ASSERT_FALSE(groups.empty());
  EXPECT_EQ(groups.front(), IDI_APP_ICON);
  HANDLE icon =
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON, 32, 32, 0);
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(static_cast<HICON>(icon));
}

// The version functions Explorer uses, loaded at run time: the import check of the build
// allows only a fixed set of system DLLs in a program's import table.
struct VersionApi {
  template <typename Function>
  Function Get(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  }

  HMODULE dll = LoadLibraryW(L"version.dll");
  decltype(&GetFileVersionInfoSizeW) infoSize =
      Get<decltype(&GetFileVersionInfoSizeW)>("GetFileVersionInfoSizeW");
  decltype(&GetFileVersionInfoW) info = Get<decltype(&GetFileVersionInfoW)>("GetFileVersionInfoW");
  decltype(&VerQueryValueW) query = Get<decltype(&VerQueryValueW)>("VerQueryValueW");
};

class VersionRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api_.infoSize && api_.info && api_.query) << "version.dll is missing";
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const DWORD size = api_.infoSize(path, nullptr);
    ASSERT_GT(size, 0u);
    data_.resize(size);
    ASSERT_TRUE(api_.info(path, 0, size, data_.data()));
  }

  std::wstring StringValue(const std::wstring& name) {
    std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!api_.query(data_.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
      return L"<missing>";
    }
    return std::wstring(value, length > 0 ? length - 1 : 0);
  }

  const VersionApi api_;
  std::vector<std::uint8_t> data_;
};

TEST_F(VersionRecord, GivesFileAndProductVersion1_0_0_0) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(api_.query(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionRecord, ReadsVersion1_00AndTheProductName) {
  EXPECT_EQ(StringValue(L"FileVersion"), L"1.00");
  EXPECT_EQ(StringValue(L"ProductVersion"), L"1.00");
  EXPECT_EQ(StringValue(L"ProductName"), L"Quorvik 2000 Italian Language Patch");
  EXPECT_EQ(StringValue(L"FileDescription"), L"Quorvik 2000 Italian Language Patch");
  EXPECT_NE(StringValue(L"CompanyName"), L"<missing>");
}

TEST(VersionHeader, MatchesTheVersionRecord) {
  EXPECT_STREQ(QUORVIK_VERSION_TEXT, "1.00");
  EXPECT_EQ(QUORVIK_VERSION_MAJOR, 1);
  EXPECT_EQ(QUORVIK_VERSION_MINOR, 0);
}

// The manifest as configured for the build, whose content the native manifest tests check.
TEST(LinkedResources, ManifestIsTheConfiguredManifest) {
  const Bytes file = testing::ReadBytes(QUORVIK_PROGRAM_MANIFEST);
  const ByteView resource = ResourceBytes(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_FALSE(resource.empty()) << "the program carries no manifest";
  EXPECT_TRUE(std::equal(resource.begin(), resource.end(), file.begin(), file.end()));
}

}  // namespace
}  // namespace quorvik
