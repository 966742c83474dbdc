// The manifests of both programs, as configured for the build, read as Windows reads them: an
// element counts only in its namespace and under its parents, never inside a comment. The Windows
// tests check that each program carries exactly its configured manifest.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "quorvik_version.h"

namespace quorvik {
namespace {

constexpr std::string_view kAssemblyV1 = "urn:schemas-microsoft-com:asm.v1";
constexpr std::string_view kAssemblyV3 = "urn:schemas-microsoft-com:asm.v3";
constexpr std::string_view kCompatibilityV1 = "urn:schemas-microsoft-com:compatibility.v1";
constexpr std::string_view kWindowsSettings2005 =
    "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
constexpr std::string_view kWindowsSettings2016 =
    "http://schemas.microsoft.com/SMI/2016/WindowsSettings";

using Attributes = std::map<std::string, std::string>;

// The default namespace in scope at an element, declared on it or the nearest ancestor. The
// manifests name no prefixes, and an element that has one matches no step below.
std::string_view NamespaceOf(pugi::xml_node element) {
  for (; element.type() == pugi::node_element; element = element.parent()) {
    if (const pugi::xml_attribute uri = element.attribute("xmlns")) return uri.value();
  }
  return {};
}

// The attributes as written, without namespace declarations.
Attributes AttributesOf(pugi::xml_node element) {
  Attributes attributes;
  for (const pugi::xml_attribute attribute : element.attributes()) {
    const std::string_view name = attribute.name();
    if (name != "xmlns" && !name.starts_with("xmlns:"))
      attributes[attribute.name()] = attribute.value();
  }
  return attributes;
}

struct Step {
  std::string_view namespaceUri;
  std::string_view localName;
};

// The elements reached from `from` by a child of each step in turn, in document order.
std::vector<pugi::xml_node> Descendants(pugi::xml_node from, std::initializer_list<Step> path) {
  std::vector<pugi::xml_node> reached{from};
  for (const Step& step : path) {
    std::vector<pugi::xml_node> next;
    for (const pugi::xml_node parent : reached) {
      for (const pugi::xml_node child : parent.children()) {
        if (child.name() == step.localName && NamespaceOf(child) == step.namespaceUri) {
          next.push_back(child);
        }
      }
    }
    reached = std::move(next);
  }
  return reached;
}

class Manifest : public ::testing::Test {
 protected:
  // The root element of the manifest file, after checking that it parses.
  pugi::xml_node Root(const char* file) {
    const pugi::xml_parse_result parsed = document_.load_file(file);
    EXPECT_TRUE(parsed) << file << ": " << parsed.description() << " at byte " << parsed.offset;
    const pugi::xml_node root = document_.document_element();
    EXPECT_EQ(NamespaceOf(root), kAssemblyV1);
    EXPECT_STREQ(root.name(), "assembly");
    return root;
  }

  static std::vector<pugi::xml_node> ExecutionLevels(pugi::xml_node root) {
    return Descendants(root, {{kAssemblyV3, "trustInfo"},
                              {kAssemblyV3, "security"},
                              {kAssemblyV3, "requestedPrivileges"},
                              {kAssemblyV3, "requestedExecutionLevel"}});
  }

  // The Id of each system the manifest declares, after checking it declares nothing else there.
  static std::set<std::string> SupportedSystems(pugi::xml_node root) {
    std::set<std::string> ids;
    for (const pugi::xml_node os : Descendants(root, {{kCompatibilityV1, "compatibility"},
                                                      {kCompatibilityV1, "application"},
                                                      {kCompatibilityV1, "supportedOS"}})) {
      const Attributes attributes = AttributesOf(os);
      EXPECT_EQ(attributes.size(), 1u) << "supportedOS carries more than its Id";
      if (attributes.contains("Id")) ids.insert(attributes.at("Id"));
    }
    return ids;
  }

  pugi::xml_document document_;
};

TEST_F(Manifest, ProgramIsOneAssemblyNamedAfterItWithItsVersion) {
  const pugi::xml_node root = Root(QUORVIK_PROGRAM_MANIFEST);
  EXPECT_EQ(AttributesOf(root), (Attributes{{"manifestVersion", "1.0"}}));
  const auto identity = Descendants(root, {{kAssemblyV1, "assemblyIdentity"}});
  ASSERT_EQ(identity.size(), 1u);
  // Windows refuses to start a program whose version here is not four numbers.
  const std::string version =
      std::to_string(QUORVIK_VERSION_MAJOR) + "." + std::to_string(QUORVIK_VERSION_MINOR) + ".0.0";
  EXPECT_EQ(AttributesOf(identity[0]), (Attributes{{"type", "win32"},
                                                   {"name", "Quorvik.Italiano"},
                                                   {"version", version},
                                                   {"processorArchitecture", "*"}}));
}

TEST_F(Manifest, ProgramAsksForCommonControls6) {
  const auto controls =
      Descendants(Root(QUORVIK_PROGRAM_MANIFEST), {{kAssemblyV1, "dependency"},
                                                   {kAssemblyV1, "dependentAssembly"},
                                                   {kAssemblyV1, "assemblyIdentity"}});
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_EQ(AttributesOf(controls[0]), (Attributes{{"type", "win32"},
                                                   {"name", "Microsoft.Windows.Common-Controls"},
                                                   {"version", "6.0.0.0"},
                                                   {"processorArchitecture", "*"},
                                                   {"publicKeyToken", "6595b64144ccf1df"},
                                                   {"language", "*"}}));
}

TEST_F(Manifest, ProgramDeclaresPerMonitorDpiAwareness) {
  const auto settings =
      Descendants(Root(QUORVIK_PROGRAM_MANIFEST),
                  {{kAssemblyV3, "application"}, {kAssemblyV3, "windowsSettings"}});
  ASSERT_EQ(settings.size(), 1u);
  const auto aware = Descendants(settings[0], {{kWindowsSettings2005, "dpiAware"}});
  const auto awareness = Descendants(settings[0], {{kWindowsSettings2016, "dpiAwareness"}});
  ASSERT_EQ(aware.size(), 1u);
  ASSERT_EQ(awareness.size(), 1u);
  EXPECT_STREQ(aware[0].child_value(), "true/PM");
  EXPECT_STREQ(awareness[0].child_value(), "PerMonitorV2,PerMonitor");
}

TEST_F(Manifest, ProgramRequiresAdministratorWithoutUiAccess) {
  const auto level = ExecutionLevels(Root(QUORVIK_PROGRAM_MANIFEST));
  ASSERT_EQ(level.size(), 1u);
  EXPECT_EQ(AttributesOf(level[0]),
            (Attributes{{"level", "requireAdministrator"}, {"uiAccess", "false"}}));
  EXPECT_FALSE(level[0].first_child());
}

TEST_F(Manifest, ProgramSupportsWindowsVistaTo11) {
  const std::set<std::string> supported = SupportedSystems(Root(QUORVIK_PROGRAM_MANIFEST));
  for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",     // Vista
                         "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",     // 7
                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",     // 8
                         "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",     // 8.1
                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
    EXPECT_TRUE(supported.contains(id)) << id;
  }
}

TEST_F(Manifest, CompanionDeclaresItsExecutionLevelSoWritesAreNeverRedirected) {
  // Without a declared level, Windows runs a 32-bit console program that is not elevated with
  // its writes under Program Files redirected to a per-user copy, and a patch would seem to work.
  const auto level = ExecutionLevels(Root(QUORVIK_COMPANION_MANIFEST));
  ASSERT_EQ(level.size(), 1u);
  EXPECT_EQ(AttributesOf(level[0]), (Attributes{{"level", "asInvoker"}, {"uiAccess", "false"}}));
}

}  // namespace
}  // namespace quorvik
