// The program's entry: Windows hands it UTF-16 arguments, Linux bytes.
#include "invocation/run_driver.h"

#ifdef _WIN32
int wmain(int argc, wchar_t* argv[]) { return RunNodeStart(argc, argv); }
#else
int main(int argc, char* argv[]) { return RunNodeStart(argc, argv); }
#endif
