#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "bytes.h"
#include "translation_table.h"

namespace quorvik {

enum class Direction { EnglishToItalian, ItalianToEnglish };

// A pair in the byte form searched for in the file: `from` is replaced by `to`.
struct WidePair {
  int number;
  Bytes from;
  Bytes to;
  bool required;
};

using WideTable = std::vector<WidePair>;

WideTable WidenTable(const TranslationTable& table, Direction direction);

// Where one pair's text was found and replaced, or that it was not found.
struct PairMatch {
  int number;
  bool required;
  std::optional<std::size_t> offset;
};

struct TableReport {
  std::vector<PairMatch> pairs;

  bool AllRequiredFound() const;
};

// Applies the pairs in order to the buffer: the first occurrence of each pair's `from` bytes, at
// any offset and after the replacements of the pairs before it, is overwritten by its `to`
// bytes, as many as it found. Every pair is searched, even after a required one was missing, so
// that the report tells all that a run would meet. This is the whole-buffer form of what a run
// does to a file a window at a time (TableSearch, then Replacements).
TableReport ApplyTable(std::span<std::uint8_t> buffer, const WideTable& table);

// Bytes to be written at an offset.
struct Replacement {
  std::size_t offset;
  ByteView bytes;
};

// What ApplyTable writes for each pair the report found, in table order; written in that order,
// a later pair's bytes over an earlier one's. The bytes are the table's.
std::vector<Replacement> Replacements(const WideTable& table, const TableReport& report);

}  // namespace quorvik
