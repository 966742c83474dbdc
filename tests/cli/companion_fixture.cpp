#include "companion_fixture.h"

#include <sstream>

namespace quorvik::testing {

ProcessResult CompanionTest::Run(std::initializer_list<std::filesystem::path> arguments) const {
  return RunProgram(QUORVIK_PATCH_PROGRAM, arguments);
}

std::filesystem::path CompanionTest::WriteTarget(const Bytes& bytes,
                                                 const std::filesystem::path& name) const {
  const std::filesystem::path path = folder_ / name;
  WriteBytes(path, bytes);
  return path;
}

Bytes EnglishSample(const tools::SampleLayout& layout) {
  return tools::MakeSampleTarget(layout, tools::SampleLanguage::English);
}

Bytes UpdatedSample(const tools::SampleLayout& layout) {
  return tools::MakeSampleTarget(layout, tools::SampleLanguage::ItalianFirstRound);
}

Bytes ForeignSample() { return EnglishSample({.omittedPairs = {5}}); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

}  // namespace quorvik::testing
