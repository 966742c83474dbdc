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
// bytes. Every pair is searched, even after a required one was missing, so that the report
// tells all that a run would meet; the caller discards the buffer when the report is incomplete.
TableReport ApplyTable(std::span<std::uint8_t> buffer, const WideTable& table);

// A range of bytes in a buffer, from `start` up to but not including `end`.
struct ByteRange {
  std::size_t start;
  std::size_t end;
};

// The ranges that ApplyTable overwrote in a buffer of `bufferSize` bytes, for each pair the
// report found, in table order.
std::vector<ByteRange> WrittenRanges(const WideTable& table, const TableReport& report,
                                     std::size_t bufferSize);

// Gives back the bytes that ApplyTable overwrote, given its report: the buffer is exactly as it
// was before. Whoever needs the original bytes and the changed ones thus needs one buffer.
void UndoTable(std::span<std::uint8_t> buffer, const WideTable& table, const TableReport& report);

// Writes again what UndoTable took back: the buffer is exactly as ApplyTable left it.
void RedoTable(std::span<std::uint8_t> buffer, const WideTable& table, const TableReport& report);

}  // namespace quorvik
