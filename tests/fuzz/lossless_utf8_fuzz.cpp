// Any bytes survive the way to wide text and back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/lossless_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const WideText text = DecodeLossless(bytes);
  if (EncodeLossless(text) != bytes) __builtin_trap();
  if (text.size() > bytes.size()) __builtin_trap();  // never more characters than bytes
  return 0;
}
