// The resources as linked into a program from quorvik_resources: the generated pictures byte for
// byte, the icon as the program-file icon, the version record and the application manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bytes.h"
#include "quorvik_version.h"
#include "resource_ids.h"
#include "temp_folder.h"
#include "xml_document.h"

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

// The application manifest parsed as Windows reads it, so that a text in a comment or in another
// element than the one Windows looks at counts for nothing.
class Manifest : public ::testing::Test {
 protected:
  using Attributes = std::map<std::string, std::string>;

  void SetUp() override {
    const ByteView bytes = ResourceBytes(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_FALSE(bytes.empty()) << "the program carries no manifest";
    ASSERT_NO_THROW(root_ = testing::ParseXmlDocument(std::string(bytes.begin(), bytes.end())));
  }

  // The Id of each system the manifest declares, after checking it declares nothing else there.
  std::set<std::string> SupportedSystems() const {
    std::set<std::string> ids;
    for (const testing::XmlElement* os :
         root_.Descendants({{testing::kCompatibilityV1, "compatibility"},
                            {testing::kCompatibilityV1, "application"},
                            {testing::kCompatibilityV1, "supportedOS"}})) {
      EXPECT_EQ(os->attributes.size(), 1u) << "supportedOS carries more than its Id";
      if (os->attributes.contains("Id")) ids.insert(os->attributes.at("Id"));
    }
    return ids;
  }

  testing::XmlElement root_;
};

TEST_F(Manifest, IsOneAssemblyNamedAfterTheProgramWithItsVersion) {
  EXPECT_EQ(root_.namespaceUri, testing::kAssemblyV1);
  EXPECT_EQ(root_.localName, "assembly");
  EXPECT_EQ(root_.attributes, (Attributes{{"manifestVersion", "1.0"}}));
  const auto identity = root_.Descendants({{testing::kAssemblyV1, "assemblyIdentity"}});
  ASSERT_EQ(identity.size(), 1u);
  // Windows refuses to start a program whose version here is not four numbers.
  const std::string version =
      std::to_string(QUORVIK_VERSION_MAJOR) + "." + std::to_string(QUORVIK_VERSION_MINOR) + ".0.0";
  EXPECT_EQ(identity[0]->attributes, (Attributes{{"type", "win32"},
                                                 {"name", "Quorvik.Italiano"},
                                                 {"version", version},
                                                 {"processorArchitecture", "*"}}));
}

TEST_F(Manifest, AsksForCommonControls6) {
  const auto controls = root_.Descendants({{testing::kAssemblyV1, "dependency"},
                                           {testing::kAssemblyV1, "dependentAssembly"},
                                           {testing::kAssemblyV1, "assemblyIdentity"}});
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(controls[0]->attributes, (Attributes{{"type", "win32"},
                                                 {"name", "Microsoft.Windows.Common-Controls"},
                                                 {"version", "6.0.0.0"},
                                                 {"processorArchitecture", "*"},
                                                 {"publicKeyToken", "6595b64144ccf1df"},
                                                 {"language", "*"}}));
}

TEST_F(Manifest, DeclaresPerMonitorDpiAwareness) {
  const auto settings = root_.Descendants(
      {{testing::kAssemblyV3, "application"}, {testing::kAssemblyV3, "windowsSettings"}});
  ASSERT_EQ(settings.size(), 1u);
  const auto aware = settings[0]->Descendants({{testing::kWindowsSettings2005, "dpiAware"}});
  const auto awareness =
      settings[0]->Descendants({{testing::kWindowsSettings2016, "dpiAwareness"}});
  ASSERT_EQ(aware.size(), 1u);
  ASSERT_EQ(awareness.size(), 1u);
  EXPECT_EQ(aware[0]->text, "true/PM");
  EXPECT_EQ(awareness[0]->text, "PerMonitorV2,PerMonitor");
}

TEST_F(Manifest, RequiresAdministratorWithoutUiAccess) {
  const auto level = root_.Descendants({{testing::kAssemblyV3, "trustInfo"},
                                        {testing::kAssemblyV3, "security"},
                                        {testing::kAssemblyV3, "requestedPrivileges"},
                                        {testing::kAssemblyV3, "requestedExecutionLevel"}});
  ASSERT_EQ(level.size(), 1u);
  EXPECT_EQ(level[0]->attributes,
            (Attributes{{"level", "requireAdministrator"}, {"uiAccess", "false"}}));
  EXPECT_TRUE(level[0]->children.empty());
}

TEST_F(Manifest, SupportsWindows7To11) {
  const std::set<std::string> supported = SupportedSystems();
  for (const char* id : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",     // 7
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",     // 8
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",     // 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
    EXPECT_TRUE(supported.contains(id)) << id;
  }
}

TEST_F(Manifest, SupportsWindowsVista) {
  EXPECT_TRUE(SupportedSystems().contains("{e2011457-1546-43c5-a5fe-008deee3d3f0}"));
}

}  // namespace
}  // namespace quorvik
