#include "launch/system_error_report.h"

#include "platform/console.h"

CErr::CErr(const wchar_t* operation, const WideText& reason) {
  ConsolePrint(L"\n ERROR - %s: %s", operation, reason);
}
