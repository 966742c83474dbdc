// Turns a write log of a disk (QEMU's blklogwrites filter) into the states that disk can be in
// after a power cut, for scripts/power-cut.sh.
//   crash-state records LOG [LOG_BYTES]
//       the number of records in the log (those wholly within its first LOG_BYTES bytes), and
//       how many of them are flushes
//   crash-state plan LOG FIRST_LOG_BYTES MOMENTS_FILE COUNT SEED
//       one line per chosen state: "end", "moment" or "record", the number of records that reached
//       the disk, and the lost writes ("-" for none, else indices joined by commas)
//   crash-state make LOG DISK_BYTES RECORDS LOST IMAGE
//       writes the disk of that state (LOST as plan prints it) to IMAGE
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "crash_state.h"
#include "cut_plan.h"
#include "write_log.h"

namespace {

using namespace quorvik::tools;

int Usage() {
  std::cerr << "usage: crash-state records LOG [LOG_BYTES]\n"
               "       crash-state plan LOG FIRST_LOG_BYTES MOMENTS_FILE COUNT SEED\n"
               "       crash-state make LOG DISK_BYTES RECORDS LOST IMAGE\n";
  return 2;
}

std::uint64_t Number(const std::string& text) {
  std::size_t used = 0;
  const unsigned long long value = std::stoull(text, &used);
  if (used != text.size()) throw std::invalid_argument("not a number: " + text);
  return value;
}

std::string LostText(const std::vector<std::size_t>& lost) {
  if (lost.empty()) return "-";
  std::string text;
  for (std::size_t index : lost) text += (text.empty() ? "" : ",") + std::to_string(index);
  return text;
}

std::vector<std::size_t> LostList(const std::string& text) {
  std::vector<std::size_t> lost;
  if (text == "-") return lost;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) lost.push_back(Number(item));
  return lost;
}

const char* ChosenByText(PlannedCut::ChosenBy chosenBy) {
  switch (chosenBy) {
    case PlannedCut::ChosenBy::End:
      return "end";
    case PlannedCut::ChosenBy::Moment:
      return "moment";
    case PlannedCut::ChosenBy::Record:
      break;
  }
  return "record";
}

int Records(const std::vector<std::string>& arguments) {
  const WriteLog log = ReadWriteLog(arguments[0]);
  std::size_t records = log.records.size();
  if (arguments.size() > 1) records = RecordsWithin(log, Number(arguments[1]));
  const auto flushes = std::count_if(log.records.begin(), log.records.begin() + records,
                                     [](const LoggedRequest& record) { return record.IsFlush(); });
  std::cout << records << " " << flushes << "\n";
  return 0;
}

int Plan(const std::vector<std::string>& arguments) {
  const WriteLog log = ReadWriteLog(arguments[0]);
  std::ifstream momentsFile(arguments[2]);
  if (!momentsFile) throw std::runtime_error(arguments[2] + ": cannot be opened");
  std::vector<std::uint64_t> moments;
  for (std::string line; std::getline(momentsFile, line);) {
    if (!line.empty()) moments.push_back(Number(line));
  }
  const std::vector<PlannedCut> cuts =
      PlanCuts(log, RecordsWithin(log, Number(arguments[1])), moments, Number(arguments[3]),
               static_cast<std::uint32_t>(Number(arguments[4])));
  for (const PlannedCut& cut : cuts) {
    std::cout << ChosenByText(cut.chosenBy) << " " << cut.state.records << " "
              << LostText(cut.state.lost) << "\n";
  }
  return 0;
}

int Make(const std::vector<std::string>& arguments) {
  const WriteLog log = ReadWriteLog(arguments[0]);
  const CrashState state{.records = Number(arguments[2]), .lost = LostList(arguments[3])};
  WriteCrashState(arguments[0], log, state, Number(arguments[1]), arguments[4]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  try {
    if (command == "records" && (arguments.size() == 1 || arguments.size() == 2)) {
      return Records(arguments);
    }
    if (command == "plan" && arguments.size() == 5) return Plan(arguments);
    if (command == "make" && arguments.size() == 5) return Make(arguments);
  } catch (const std::exception& error) {
    std::cerr << "crash-state: " << error.what() << "\n";
    return 1;
  }
  return Usage();
}
