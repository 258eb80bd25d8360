// Splitting any command line gives arguments that, quoted again by the C runtime's rules, split
// back to themselves.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/command_line_split.h"
#include "support/windows_quoting.h"
#include "text/lossless_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const WideText line = DecodeLossless(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<WideText> arguments = SplitCommandLine(line);
  if (arguments.empty()) __builtin_trap();
  if (arguments[0].find(L'"') != WideText::npos) __builtin_trap();  // the name drops its quotes

  WideText again = L"p";
  for (std::size_t i = 1; i < arguments.size(); ++i) again += L" " + QuoteForWindows(arguments[i]);
  std::vector<WideText> expected = arguments;
  expected[0] = L"p";
  if (SplitCommandLine(again) != expected) __builtin_trap();
  return 0;
}
