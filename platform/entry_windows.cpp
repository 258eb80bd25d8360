#include "invocation/run_driver.h"

int wmain(int argc, wchar_t* argv[]) { return RunNodeStart(argc, argv); }
