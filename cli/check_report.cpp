#include "check_report.h"

#include <charconv>
#include <nlohmann/json.hpp>

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

// The report's members in the order a person reads them: the format, the pairs, the verdict.
nlohmann::ordered_json ReportJson(std::string_view verdict) {
  return {{"format", 1}, {"pairs", nlohmann::ordered_json::array()}, {"verdict", verdict}};
}

// Indented by two; a text that is not UTF-8 (a POSIX file name can be any bytes) is written with
// U+FFFD in place of each bad byte, so that the output stays JSON.
std::string JsonText(const nlohmann::ordered_json& json) {
  return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
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
  nlohmann::ordered_json json = ReportJson(VerdictText(check.verdict));
  for (const PairMatch& pair : check.english.pairs) {
    json["pairs"].push_back({{"number", pair.number},
                             {"required", pair.required},
                             {"offset", pair.offset ? nlohmann::ordered_json(*pair.offset)
                                                    : nlohmann::ordered_json(nullptr)}});
  }
  return JsonText(json);
}

std::string UncheckedReportJson(std::string_view verdict, std::string_view error) {
  nlohmann::ordered_json json = ReportJson(verdict);
  json["error"] = error;
  return JsonText(json);
}

}  // namespace quorvik
