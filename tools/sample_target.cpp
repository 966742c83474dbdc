#include "sample_target.h"

#include <random>

#include "translation_table.h"
#include "wide_string.h"

namespace quorvik::tools {
namespace {

// Filler that cannot contain a wide text by accident: no zero bytes at all.
void AppendFiller(Bytes& out, std::size_t count, std::mt19937& random) {
  std::uniform_int_distribution<int> byte(1, 255);
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(byte(random)));
}

}  // namespace

Bytes MakeSampleTarget(const SampleLayout& layout, SampleLanguage language) {
  std::mt19937 random(layout.seed);
  Bytes out;
  if (layout.oddOffsets) out.push_back(0xA5);
  AppendFiller(out, layout.fillerBytes, random);
  for (int round = 0; round < layout.rounds; ++round) {
    for (const TranslationPair& pair : BuiltInTranslationTable()) {
      if (layout.omittedPairs.contains(pair.number)) continue;
      const bool italian = language == SampleLanguage::ItalianFirstRound && round == 0;
      const Bytes text = WidenString(italian ? pair.italian : pair.english);
      out.insert(out.end(), text.begin(), text.end());
      AppendFiller(out, layout.fillerBytes, random);
    }
  }
  return out;
}

}  // namespace quorvik::tools
