#include "invocation/command_line.h"

#include "text/format_wide.h"

WideText ComposeCommandLine(const WideText& application_name,
                            const std::vector<WideText>& target_arguments) {
  WideText command_line = FormatWide(L"\"%s\"", {application_name});
  for (const WideText& argument : target_arguments) {
    AppendChecked(command_line, L' ');
    AppendChecked(command_line, argument);
  }
  return command_line;
}
