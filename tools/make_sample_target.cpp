// Writes a made-up program file holding the product's English texts, for demos and tests.
//   make-sample-target OUTPUT [--omit N]... [--odd] [--rounds N] [--filler BYTES] [--seed N]
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "sample_target.h"

namespace {

int Usage() {
  std::cerr << "usage: make-sample-target OUTPUT [--omit N]... [--odd] [--rounds N] "
               "[--filler BYTES] [--seed N] [--italian]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvik::tools;
  if (argc < 2) return Usage();
  SampleLayout layout;
  SampleLanguage language = SampleLanguage::English;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--odd") {
      layout.oddOffsets = true;
    } else if (option == "--italian") {
      language = SampleLanguage::ItalianFirstRound;
    } else if (option == "--omit" && hasValue) {
      layout.omittedPairs.insert(std::atoi(argv[++i]));
    } else if (option == "--rounds" && hasValue) {
      layout.rounds = std::atoi(argv[++i]);
    } else if (option == "--filler" && hasValue) {
      layout.fillerBytes = std::strtoull(argv[++i], nullptr, 10);
    } else if (option == "--seed" && hasValue) {
      layout.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return Usage();
    }
  }
  const quorvik::Bytes bytes = MakeSampleTarget(layout, language);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "make-sample-target: could not write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
