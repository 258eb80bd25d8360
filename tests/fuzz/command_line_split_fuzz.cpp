// Splitting any command line gives arguments that, quoted again by the C runtime's rules, split
// back to themselves.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/command_line_split.h"
#include "platform/lossless_utf8.h"

namespace {

// Quotes an argument so that the runtime's rules give it back: backslashes are doubled where a
// quote follows them, and a quote is escaped.
WideText Quote(const WideText& argument) {
  WideText quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const WideText line = DecodeLossless(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<WideText> arguments = SplitCommandLine(line);
  if (arguments.empty()) __builtin_trap();
  if (arguments[0].find(L'"') != WideText::npos) __builtin_trap();  // the name drops its quotes

  WideText again = L"p";
  for (std::size_t i = 1; i < arguments.size(); ++i) again += L" " + Quote(arguments[i]);
  std::vector<WideText> expected = arguments;
  expected[0] = L"p";
  if (SplitCommandLine(again) != expected) __builtin_trap();
  return 0;
}
