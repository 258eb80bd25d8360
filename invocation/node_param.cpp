#include "invocation/node_param.h"

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// White space as "%d" skips it in the C locale.
bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

NodeParam ParseNodeParam(const WideText& parameter) {
  std::size_t i = 0;
  while (i < parameter.size() && IsSpace(parameter[i])) ++i;
  bool negative = false;
  if (i < parameter.size() && (parameter[i] == L'+' || parameter[i] == L'-')) {
    negative = parameter[i] == L'-';
    ++i;
  }
  // Unsigned arithmetic wraps, so the low 16 bits come out right for any length of digits;
  // without a digit the value stays 0, as the unchecked conversion leaves it.
  std::uint32_t value = 0;
  for (; i < parameter.size() && IsDigit(parameter[i]); ++i) {
    value = value * 10u + static_cast<std::uint32_t>(parameter[i] - L'0');
  }
  if (negative) value = 0u - value;
  const bool acceptable = parameter.empty() || !IsAsciiLetter(parameter[0]);
  return NodeParam{static_cast<std::uint16_t>(value & 0xFFFFu), acceptable};
}
