// The node parameter against a plain model of its rules, for any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "invocation/node_param.h"
#include "text/lossless_utf8.h"

namespace {

// Optional white space and sign, then decimal digits up to the first non-digit, counted modulo
// 65536; refused only when the very first character is an ASCII letter.
NodeParam Model(const WideText& text) {
  const WideText spaces = L" \t\n\v\f\r";
  std::size_t at = text.find_first_not_of(spaces);
  if (at == WideText::npos) at = text.size();
  int sign = 1;
  if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
    sign = text[at++] == L'-' ? -1 : 1;
  long value = 0;
  for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
    value = (value * 10 + (text[at] - L'0')) % 65536;
  }
  const long node = ((sign * value) % 65536 + 65536) % 65536;
  const bool letter =
      !text.empty() && ((text[0] | 0x20) >= L'a' && (text[0] | 0x20) <= L'z') && text[0] < 0x80;
  return NodeParam{static_cast<std::uint16_t>(node), !letter};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const WideText text = DecodeLossless(std::string(reinterpret_cast<const char*>(data), size));
  const NodeParam got = ParseNodeParam(text);
  const NodeParam expected = Model(text);
  if (got.number != expected.number || got.acceptable != expected.acceptable) __builtin_trap();
  return 0;
}
