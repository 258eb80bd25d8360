#include "text/wide_text.h"

void AppendChecked(WideText& text, const wchar_t* piece, std::size_t count) {
  if (count > kMaxWideTextLength - text.size()) throw TextLayerFailure{};
  text.append(piece, count);
}

void AppendChecked(WideText& text, const WideText& piece) {
  AppendChecked(text, piece.data(), piece.size());
}

void AppendChecked(WideText& text, wchar_t character) { AppendChecked(text, &character, 1); }
