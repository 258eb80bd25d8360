#include "text/lossless_utf8.h"

// Used where wide characters hold whole code points (POSIX), so no UTF-16 pairs arise.
static_assert(sizeof(wchar_t) == 4, "wide characters must hold a code point");

namespace {

constexpr char32_t kEscapeBase = 0xDC00;  // escaped byte b (0x80..0xFF) is U+DC00 + b

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at `bytes[i]`, or 0 if none starts there; sets `code_point`.
std::size_t ValidSequence(const std::string& bytes, std::size_t i, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  std::size_t length;
  char32_t minimum;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code_point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code_point = lead & 0x07u;
  } else {
    return 0;
  }
  if (bytes.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto byte = static_cast<unsigned char>(bytes[i + k]);
    if (!IsContinuation(byte)) return 0;
    code_point = (code_point << 6) | (byte & 0x3Fu);
  }
  const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
  if (code_point < minimum || code_point > 0x10FFFF || surrogate) return 0;
  return length;
}

void AppendUtf8(std::string& bytes, char32_t code_point) {
  if (code_point < 0x80) {
    bytes += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    bytes += static_cast<char>(0xC0 | (code_point >> 6));
    bytes += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    bytes += static_cast<char>(0xE0 | (code_point >> 12));
    bytes += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | (code_point >> 18));
    bytes += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    bytes += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

WideText DecodeLossless(const std::string& bytes) {
  WideText text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t code_point;
    const std::size_t length = ValidSequence(bytes, i, code_point);
    if (length == 0) {
      AppendChecked(text, static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
      ++i;
    } else {
      AppendChecked(text, static_cast<wchar_t>(code_point));
      i += length;
    }
  }
  return text;
}

std::string EncodeLossless(const WideText& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (const wchar_t character : text) {
    const auto unit = static_cast<char32_t>(character);
    if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      bytes += static_cast<char>(unit - kEscapeBase);
    } else if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) {
      AppendUtf8(bytes, 0xFFFD);  // cannot come from decoding; has no byte form of its own
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return bytes;
}
