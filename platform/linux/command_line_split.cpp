#include "platform/linux/command_line_split.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<WideText> SplitCommandLine(const WideText& command_line) {
  std::vector<WideText> arguments;
  const std::size_t end = command_line.size();
  std::size_t i = 0;

  WideText program;
  for (bool quoted = false; i < end && (quoted || !IsBlank(command_line[i])); ++i) {
    if (command_line[i] == L'"') {
      quoted = !quoted;
    } else {
      program += command_line[i];
    }
  }
  arguments.push_back(program);

  for (;;) {
    while (i < end && IsBlank(command_line[i])) ++i;
    if (i == end) break;
    WideText argument;
    bool quoted = false;
    while (i < end && (quoted || !IsBlank(command_line[i]))) {
      if (command_line[i] == L'\\') {
        std::size_t backslashes = 0;
        for (; i < end && command_line[i] == L'\\'; ++i) ++backslashes;
        const bool before_quote = i < end && command_line[i] == L'"';
        argument.append(before_quote ? backslashes / 2 : backslashes, L'\\');
        if (before_quote && backslashes % 2 == 1) {
          argument += L'"';
          ++i;
        }
      } else if (command_line[i] == L'"') {
        if (quoted && i + 1 < end && command_line[i + 1] == L'"') {
          argument += L'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += command_line[i++];
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}
