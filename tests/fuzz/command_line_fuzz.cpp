// Composing a command line keeps every argument as given, and for arguments without white space
// or quotes, splitting the result gives the target and the arguments back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "invocation/command_line.h"
#include "platform/linux/command_line_split.h"
#include "text/lossless_utf8.h"

namespace {

// The input, cut at NUL bytes: the target, then its arguments.
std::vector<WideText> Pieces(const std::uint8_t* data, std::size_t size) {
  std::vector<WideText> pieces;
  std::string piece;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      pieces.push_back(DecodeLossless(piece));
      piece.clear();
    } else {
      piece += static_cast<char>(data[i]);
    }
  }
  return pieces;
}

bool Plain(const WideText& text) { return text.find_first_of(L" \t\"") == WideText::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<WideText> pieces = Pieces(data, size);
  const WideText& target = pieces[0];
  const std::vector<WideText> arguments(pieces.begin() + 1, pieces.end());
  const WideText composed = ComposeCommandLine(target, arguments);

  WideText expected = L"\"" + target + L"\"";
  for (const WideText& argument : arguments) expected += L" " + argument;
  if (composed != expected) __builtin_trap();

  bool plain = target.find(L'"') == WideText::npos;
  for (const WideText& argument : arguments) plain = plain && !argument.empty() && Plain(argument);
  if (plain && SplitCommandLine(composed) != pieces) __builtin_trap();
  return 0;
}
