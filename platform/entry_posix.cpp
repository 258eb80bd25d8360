#include "invocation/run_driver.h"

int main(int argc, char* argv[]) { return RunNodeStart(argc, argv); }
