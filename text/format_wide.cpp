#include "text/format_wide.h"

#include <cstring>
#include <cwchar>

FormatArg::FormatArg(const wchar_t* text)
    : kind_(Kind::kWide), wide_(text), size_(std::wcslen(text)) {}

FormatArg::FormatArg(const char* text)
    : kind_(Kind::kNarrow), narrow_(text), size_(std::strlen(text)) {}

namespace {

const FormatArg& TakeArg(const FormatArg*& next, const FormatArg* end, FormatArg::Kind kind) {
  if (next == end || next->kind() != kind) throw TextLayerFailure{};
  return *next++;
}

void AppendDecimal(WideText& out, std::int32_t value) {
  // Work in the unsigned domain so that INT32_MIN needs no special case.
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  wchar_t digits[11];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) AppendChecked(out, L'-');
  while (count != 0) AppendChecked(out, digits[--count]);
}

}  // namespace

WideText FormatWide(const wchar_t* format, std::initializer_list<FormatArg> args) {
  WideText out;
  const FormatArg* next = args.begin();
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      AppendChecked(out, *p);
      continue;
    }
    switch (*++p) {
      case L'%':
        AppendChecked(out, L'%');
        break;
      case L's': {
        const FormatArg& arg = TakeArg(next, args.end(), FormatArg::Kind::kWide);
        AppendChecked(out, arg.wide(), arg.size());
        break;
      }
      case L'S': {
        // Narrow texts here are build stamps and other ASCII; each byte stands for itself.
        const FormatArg& arg = TakeArg(next, args.end(), FormatArg::Kind::kNarrow);
        for (std::size_t i = 0; i < arg.size(); ++i) {
          AppendChecked(out, static_cast<wchar_t>(static_cast<unsigned char>(arg.narrow()[i])));
        }
        break;
      }
      case L'd':
        AppendDecimal(out, TakeArg(next, args.end(), FormatArg::Kind::kInteger).integer());
        break;
      default:  // includes a lone '%' at the end of the format
        throw TextLayerFailure{};
    }
  }
  if (next != args.end()) throw TextLayerFailure{};
  return out;
}
