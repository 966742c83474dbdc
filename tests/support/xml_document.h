#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvik::testing {

// An element of a parsed XML document, its name resolved to the namespace it is in.
struct XmlElement {
  std::string namespaceUri;
  std::string localName;
  // The attributes as written (prefixed ones with their prefix), without namespace declarations.
  std::map<std::string, std::string> attributes;
  // The character data directly inside the element, references replaced; comments left out.
  std::string text;
  std::vector<XmlElement> children;

  struct Step {
    std::string_view namespaceUri;
    std::string_view localName;
  };
  // The elements reached from this one by a child of each step in turn, in document order.
  std::vector<const XmlElement*> Descendants(std::initializer_list<Step> path) const;
};

// Parses a whole document held as UTF-8, failing with std::runtime_error, which names the byte
// offset, on anything not well-formed: unmatched or crossed tags, no root or a second one, text
// outside the root, a repeated attribute, an unbound namespace prefix, an unknown reference, a
// '<' in an attribute value, a comment that holds "--". Document type declarations and CDATA
// sections, which a manifest has no use for, are refused too.
XmlElement ParseXmlDocument(std::string_view document);

// The namespaces of a Windows application manifest.
inline constexpr std::string_view kAssemblyV1 = "urn:schemas-microsoft-com:asm.v1";
inline constexpr std::string_view kAssemblyV3 = "urn:schemas-microsoft-com:asm.v3";
inline constexpr std::string_view kCompatibilityV1 = "urn:schemas-microsoft-com:compatibility.v1";
inline constexpr std::string_view kWindowsSettings2005 =
    "http://schemas.microsoft.com/SMI/2005/WindowsSettings";
inline constexpr std::string_view kWindowsSettings2016 =
    "http://schemas.microsoft.com/SMI/2016/WindowsSettings";

}  // namespace quorvik::testing
