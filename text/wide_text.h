// Wide text: the one string type of the tool, with the length limit every run honours.
#pragma once

#include <cstddef>
#include <string>

using WideText = std::wstring;

// Longest wide text the tool will build, in characters.
constexpr std::size_t kMaxWideTextLength = 2147483647;

// Raised when the text layer cannot go on: a text would pass the length limit or cannot be
// formatted. Like memory exhaustion, it ends the run without a report line.
struct TextLayerFailure {};

// Appends `count` characters at `piece`, refusing to pass the length limit.
void AppendChecked(WideText& text, const wchar_t* piece, std::size_t count);
void AppendChecked(WideText& text, const WideText& piece);
void AppendChecked(WideText& text, wchar_t character);
