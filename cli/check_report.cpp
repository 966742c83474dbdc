#include "check_report.h"

#include <charconv>
#include <cstdio>

namespace quorvik {
namespace {

std::string Number(std::size_t value, int base) {
  char digits[32];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), value, base);
  return std::string(digits, result.ptr);
}

std::string PaddedLeft(std::string text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string PaddedRight(std::string text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

constexpr std::string_view kJsonStart = "{\n  \"format\": 1,\n  \"pairs\": [";

// A JSON string: UTF-8 as it is, with quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json.append(1, '\\').append(1, c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

}  // namespace

std::string_view VerdictText(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::ReadyToUpdate:
      return "ready to update";
    case CheckVerdict::AlreadyUpdated:
      return "already updated";
    case CheckVerdict::NotExpectedFile:
      break;
  }
  return "not the expected file";
}

std::string CheckReportText(const FileCheck& check) {
  std::string text = "Pair  Required  English text at\n";
  for (const PairMatch& pair : check.english.pairs) {
    text += PaddedLeft(Number(static_cast<std::size_t>(pair.number), 10), 4) + "  ";
    text += PaddedRight(pair.required ? "yes" : "no", 8) + "  ";
    text += pair.offset ? "0x" + Number(*pair.offset, 16) : "missing";
    text += '\n';
  }
  text.append("Verdict: ").append(VerdictText(check.verdict)).append("\n");
  return text;
}

std::string CheckReportJson(const FileCheck& check) {
  std::string json = std::string(kJsonStart) + "\n";
  const std::size_t count = check.english.pairs.size();
  for (std::size_t i = 0; i < count; ++i) {
    const PairMatch& pair = check.english.pairs[i];
    json += "    {\"number\": " + Number(static_cast<std::size_t>(pair.number), 10);
    json += std::string(", \"required\": ") + (pair.required ? "true" : "false");
    json += ", \"offset\": " + (pair.offset ? Number(*pair.offset, 10) : "null") + "}";
    json += i + 1 < count ? ",\n" : "\n";
  }
  json.append("  ],\n  \"verdict\": \"").append(VerdictText(check.verdict)).append("\"\n}\n");
  return json;
}

std::string UncheckedReportJson(std::string_view verdict, std::string_view error) {
  return std::string(kJsonStart) + "],\n  \"verdict\": " + JsonString(verdict) +
         ",\n  \"error\": " + JsonString(error) + "\n}\n";
}

}  // namespace quorvik
