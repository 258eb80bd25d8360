#include "support/expected_output.h"

#include <regex>

const char kUsage[] =
    "\n Invalid usage!\n USAGE: nodestart.exe NUMA_NODE_NUM target.exe [target_params, ...]"
    "\n EXAMPLES:\n  nodestart.exe 1 7zg.exe b\n  nodestart.exe 1 \"indigo benchmark.exe\"";

const char kRefusedNodeLine[] = "\n ERROR: Param 1 doesn't look like a NUMA node number!";

std::string Summary(const std::string& target, const std::string& command_line, int node) {
  return "\n  Target: " + target + "\n   Command line: " + command_line +
         "\n   Preferred NUMA node: " + std::to_string(node) + "\n";
}

testing::AssertionResult AfterBannerAndStamp(const std::string& output, std::string& rest) {
  static const std::regex opening(
      "\n NodeStart - starts a program with a preferred NUMA node"
      "\n Build (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ([ 1-2][0-9]|3[01]) [0-9]{4} "
      "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\n");
  std::smatch match;
  if (!std::regex_search(output, match, opening, std::regex_constants::match_continuous)) {
    return testing::AssertionFailure()
           << "no banner and build stamp at the start of: " << testing::PrintToString(output);
  }
  if (match[2] == " 0") return testing::AssertionFailure() << "day 0 in the build stamp";
  rest = match.suffix();
  return testing::AssertionSuccess();
}
