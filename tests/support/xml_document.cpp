#include "xml_document.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

namespace quorvik::testing {

std::vector<const XmlElement*> XmlElement::Descendants(std::initializer_list<Step> path) const {
  std::vector<const XmlElement*> reached{this};
  for (const Step& step : path) {
    std::vector<const XmlElement*> next;
    for (const XmlElement* element : reached) {
      for (const XmlElement& child : element->children) {
        if (child.namespaceUri == step.namespaceUri && child.localName == step.localName) {
          next.push_back(&child);
        }
      }
    }
    reached = std::move(next);
  }
  return reached;
}

namespace {

using Namespaces = std::map<std::string, std::string>;  // prefix ("" for the default) to URI

class Parser {
 public:
  explicit Parser(std::string_view document) : in_(document) {}

  XmlElement Document() {
    if (in_.starts_with("\xEF\xBB\xBF")) at_ = 3;
    if (in_.substr(at_).starts_with("<?xml")) SkipProcessingInstruction();
    SkipMisc();
    if (!Next("<")) Fail("the document has no root element");
    XmlElement root = Element(Namespaces{{"xml", "http://www.w3.org/XML/1998/namespace"}});
    SkipMisc();
    if (at_ != in_.size()) Fail("something other than a comment follows the root element");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("not well-formed XML at byte " + std::to_string(at_) + ": " + what);
  }

  bool Next(std::string_view text) {
    if (!in_.substr(at_).starts_with(text)) return false;
    at_ += text.size();
    return true;
  }

  void Expect(std::string_view text) {
    if (!Next(text)) Fail("expected \"" + std::string(text) + "\"");
  }

  bool SkipSpace() {
    const std::size_t start = at_;
    while (at_ < in_.size() &&
           std::string_view(" \t\r\n").find(in_[at_]) != std::string_view::npos) {
      ++at_;
    }
    return at_ > start;
  }

  // Whitespace, comments and processing instructions, as may stand around the root element.
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (in_.substr(at_).starts_with("<!--")) {
        Comment();
      } else if (in_.substr(at_).starts_with("<?")) {
        SkipProcessingInstruction();
      } else {
        return;
      }
    }
  }

  void Comment() {
    Expect("<!--");
    const std::size_t end = in_.find("--", at_);
    if (end == std::string_view::npos) Fail("a comment is not closed");
    at_ = end;
    if (!Next("-->")) Fail("a comment holds \"--\"");
  }

  void SkipProcessingInstruction() {
    const std::size_t end = in_.find("?>", at_);
    if (end == std::string_view::npos) Fail("a processing instruction is not closed");
    at_ = end + 2;
  }

  std::string Name() {
    const auto isNameCharacter = [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
             c == '_' || c == ':' || c == '.' || c == '-';
    };
    const std::size_t start = at_;
    while (at_ < in_.size() && isNameCharacter(in_[at_])) ++at_;
    if (at_ == start ||
        std::string_view("0123456789.-").find(in_[start]) != std::string_view::npos) {
      at_ = start;
      Fail("expected a name");
    }
    return std::string(in_.substr(start, at_ - start));
  }

  // Character data up to the next '<' (or, in an attribute value, the closing quote), with its
  // entity and character references replaced.
  std::string CharacterData(char end) {
    std::string text;
    while (at_ < in_.size() && in_[at_] != end && in_[at_] != '<') {
      if (in_[at_] != '&') {
        text += in_[at_++];
        continue;
      }
      const std::size_t semicolon = in_.find(';', at_);
      if (semicolon == std::string_view::npos) Fail("a reference has no ';'");
      const std::string_view reference = in_.substr(at_ + 1, semicolon - at_ - 1);
      static const std::map<std::string_view, char> kEntities{
          {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
      if (const auto entity = kEntities.find(reference); entity != kEntities.end()) {
        text += entity->second;
      } else if (reference.size() > 1 && reference[0] == '#') {
        // Character references are kept to ASCII, all a manifest holds.
        const bool hex = reference[1] == 'x';
        const std::string digits(reference.substr(hex ? 2 : 1));
        std::size_t used = 0;
        unsigned long code = 0;
        try {
          code = std::stoul(digits, &used, hex ? 16 : 10);
        } catch (const std::logic_error&) {
          Fail("a character reference is not a number");
        }
        if (used != digits.size() || code == 0 || code > 0x7F) {
          Fail("a character reference is not an ASCII character");
        }
        text += static_cast<char>(code);
      } else {
        Fail("unknown reference &" + std::string(reference) + ";");
      }
      at_ = semicolon + 1;
    }
    return text;
  }

  // The namespace a prefixed or unprefixed element name is in.
  std::string Resolve(const Namespaces& namespaces, std::string_view qualifiedName) {
    const std::size_t colon = qualifiedName.find(':');
    const std::string prefix(colon == std::string_view::npos ? "" : qualifiedName.substr(0, colon));
    const auto bound = namespaces.find(prefix);
    if (bound != namespaces.end()) return bound->second;
    if (!prefix.empty()) Fail("the prefix \"" + prefix + "\" is not bound to a namespace");
    return "";
  }

  // An element whose '<' has just been read, with everything inside it up to its end tag.
  XmlElement Element(Namespaces namespaces) {
    const std::string qualifiedName = Name();
    XmlElement element;
    std::map<std::string, std::string> written;
    bool empty = false;
    for (;;) {
      const bool spaced = SkipSpace();
      if (Next("/>")) {
        empty = true;
        break;
      }
      if (Next(">")) break;
      if (!spaced) Fail("attributes must be separated by whitespace");
      const std::string name = Name();
      SkipSpace();
      Expect("=");
      SkipSpace();
      if (at_ >= in_.size() || (in_[at_] != '"' && in_[at_] != '\'')) {
        Fail("an attribute value is not quoted");
      }
      const char quote = in_[at_++];
      std::string value = CharacterData(quote);
      if (!Next(std::string_view(&quote, 1))) Fail("an attribute value holds '<' or is not closed");
      if (!written.emplace(name, value).second) Fail("the attribute " + name + " is repeated");
      if (name == "xmlns") {
        namespaces[""] = value;
      } else if (name.starts_with("xmlns:")) {
        namespaces[name.substr(6)] = value;
      } else {
        element.attributes.emplace(name, std::move(value));
      }
    }
    element.namespaceUri = Resolve(namespaces, qualifiedName);
    const std::size_t colon = qualifiedName.find(':');
    element.localName =
        colon == std::string::npos ? qualifiedName : qualifiedName.substr(colon + 1);
    for (const auto& [name, value] : element.attributes) {
      if (name.find(':') != std::string::npos) Resolve(namespaces, name);
    }
    if (empty) return element;

    for (;;) {
      element.text += CharacterData('<');
      if (at_ >= in_.size()) Fail("<" + qualifiedName + "> is not closed");
      if (Next("</")) {
        if (Name() != qualifiedName) Fail("the end tag does not match <" + qualifiedName + ">");
        SkipSpace();
        Expect(">");
        return element;
      }
      if (in_.substr(at_).starts_with("<!--")) {
        Comment();
      } else if (in_.substr(at_).starts_with("<?")) {
        SkipProcessingInstruction();
      } else if (in_.substr(at_).starts_with("<!")) {
        Fail("CDATA sections and declarations are not accepted");
      } else {
        Expect("<");
        element.children.push_back(Element(namespaces));
      }
    }
  }

  std::string_view in_;
  std::size_t at_ = 0;
};

}  // namespace

XmlElement ParseXmlDocument(std::string_view document) { return Parser(document).Document(); }

}  // namespace quorvik::testing
