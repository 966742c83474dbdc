// The XML reader the manifest tests stand on: it must refuse what Windows refuses to load and
// find an element only where it is, never inside a comment or under another parent.
#include "xml_document.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

namespace quorvik::testing {
namespace {

constexpr const char* kDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";

std::string Document(const std::string& body) { return kDeclaration + std::string("\n") + body; }

TEST(XmlDocument, FindsAnElementOnlyUnderItsParentsAndNeverInAComment) {
  const XmlElement root = ParseXmlDocument(Document(R"(
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <!-- <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
       <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/> -->
  <description><requestedExecutionLevel level="requireAdministrator"/></description>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
</assembly>)"));
  const auto levels = root.Descendants({{kAssemblyV3, "trustInfo"},
                                        {kAssemblyV3, "security"},
                                        {kAssemblyV3, "requestedPrivileges"},
                                        {kAssemblyV3, "requestedExecutionLevel"}});
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0]->attributes,
            (std::map<std::string, std::string>{{"level", "asInvoker"}, {"uiAccess", "false"}}));
  EXPECT_EQ(root.text.find("requireAdministrator"), std::string::npos);
}

TEST(XmlDocument, GivesEachElementTheNamespaceInScope) {
  const XmlElement root = ParseXmlDocument(Document(R"(
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" xmlns:v3="urn:schemas-microsoft-com:asm.v3">
  <v3:application><v3:windowsSettings>
    <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/PM</dpiAware>
  </v3:windowsSettings></v3:application>
  <application><windowsSettings><dpiAware>false</dpiAware></windowsSettings></application>
</assembly>)"));
  const auto aware = root.Descendants({{kAssemblyV3, "application"},
                                       {kAssemblyV3, "windowsSettings"},
                                       {kWindowsSettings2005, "dpiAware"}});
  ASSERT_EQ(aware.size(), 1u);
  EXPECT_EQ(aware[0]->text, "true/PM");
  EXPECT_EQ(root.Descendants({{kAssemblyV1, "application"},
                              {kAssemblyV1, "windowsSettings"},
                              {kAssemblyV1, "dpiAware"}})
                .size(),
            1u);
}

TEST(XmlDocument, ReplacesReferencesInTextAndAttributes) {
  const XmlElement root =
      ParseXmlDocument(R"(<a b='&quot;&apos;&#65;&#x42;'>&lt;&gt;&amp;<!-- &bad; --></a>)");
  EXPECT_EQ(root.attributes.at("b"), "\"'AB");
  EXPECT_EQ(root.text, "<>&");
}

TEST(XmlDocument, RefusesADocumentThatIsNotWellFormed) {
  for (const char* body : {
           "",
           "<!-- only a comment -->",
           "<assembly><a></assembly></a>",
           "<assembly><a>",
           "<assembly/><assembly/>",
           "<assembly/>text",
           "text<assembly/>",
           R"(<assembly a="1" a="2"/>)",
           "<assembly a=1/>",
           R"(<assembly a="1"b="2"/>)",
           R"(<assembly a="<"/>)",
           "<v3:assembly/>",
           R"(<assembly v3:level="x"/>)",
           "<assembly>&nbsp;</assembly>",
           "<assembly>&#xE9;</assembly>",
           "<assembly><!-- a -- b --></assembly>",
           "<assembly><!-- open </assembly>",
           "<!DOCTYPE assembly><assembly/>",
           "<assembly><![CDATA[x]]></assembly>",
       }) {
    EXPECT_THROW(ParseXmlDocument(Document(body)), std::runtime_error) << body;
  }
}

}  // namespace
}  // namespace quorvik::testing
