// The formatted wide print's formatter. Conversions follow the console messages' own convention on
// every toolchain: "%s" a wide text, "%S" a narrow text, "%d" a signed 32-bit decimal, "%%" a
// percent sign. Arguments are checked against the conversions, so a mismatch cannot print garbage.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "text/wide_text.h"

class FormatArg {
 public:
  enum class Kind { kWide, kNarrow, kInteger };

  FormatArg(const WideText& text) : kind_(Kind::kWide), wide_(text.data()), size_(text.size()) {}
  FormatArg(const wchar_t* text);
  FormatArg(const char* text);
  FormatArg(std::int32_t value) : kind_(Kind::kInteger), integer_(value) {}

  Kind kind() const { return kind_; }
  const wchar_t* wide() const { return wide_; }
  const char* narrow() const { return narrow_; }
  std::size_t size() const { return size_; }
  std::int32_t integer() const { return integer_; }

 private:
  Kind kind_;
  const wchar_t* wide_ = nullptr;
  const char* narrow_ = nullptr;
  std::size_t size_ = 0;
  std::int32_t integer_ = 0;
};

// Formats `format` with `args`. Raises TextLayerFailure for an unknown conversion, an argument of
// the wrong kind, too few or too many arguments, or a result beyond the length limit.
WideText FormatWide(const wchar_t* format, std::initializer_list<FormatArg> args);
