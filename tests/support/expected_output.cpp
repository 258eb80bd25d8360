#include "support/expected_output.h"

const char kUsage[] =
    "\n Invalid usage!\n USAGE: nodestart.exe NUMA_NODE_NUM target.exe [target_params, ...]"
    "\n EXAMPLES:\n  nodestart.exe 1 7zg.exe b\n  nodestart.exe 1 \"indigo benchmark.exe\"";

const char kRefusedNodeLine[] = "\n ERROR: Param 1 doesn't look like a NUMA node number!";

std::string Summary(const std::string& target, const std::string& command_line, int node) {
  return "\n  Target: " + target + "\n   Command line: " + command_line +
         "\n   Preferred NUMA node: " + std::to_string(node) + "\n";
}

namespace {

// "Mmm dd yyyy hh:mm:ss", where '9' is a digit and '_' a digit or the space before a one-digit day.
bool IsBuildStamp(const std::string& stamp) {
  static const std::string kForm = "Mmm _9 9999 99:99:99";
  static const std::string kMonths = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec";
  if (stamp.size() != kForm.size() || kMonths.find(stamp.substr(0, 3)) % 4 != 0) return false;
  for (std::size_t i = 3; i < kForm.size(); ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    const bool fits = kForm[i] == '9'   ? digit
                      : kForm[i] == '_' ? digit || stamp[i] == ' '
                                        : stamp[i] == kForm[i];
    if (!fits) return false;
  }
  const std::string day = stamp.substr(4, 2);
  return day != " 0" && day <= "31" && stamp.substr(12, 2) < "24" && stamp[15] < '6' &&
         stamp[18] < '6';
}

}  // namespace

testing::AssertionResult AfterBannerAndStamp(const std::string& output, std::string& rest) {
  const std::string banner =
      "\n NodeStart " NODESTART_VERSION " - starts a program with a preferred NUMA node\n Build ";
  const std::size_t stamp_end = banner.size() + 20;
  if (output.compare(0, banner.size(), banner) != 0 || output.size() <= stamp_end ||
      !IsBuildStamp(output.substr(banner.size(), 20)) || output[stamp_end] != '\n') {
    return testing::AssertionFailure()
           << "no banner and build stamp at the start of: " << testing::PrintToString(output);
  }
  rest = output.substr(stamp_end + 1);
  return testing::AssertionSuccess();
}
