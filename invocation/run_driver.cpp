#include "invocation/run_driver.h"

#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "invocation/command_line.h"
#include "invocation/node_param.h"
#include "launch/exit_status.h"
#include "launch/launch_on_preferred_node.h"
#include "launch/system_error_report.h"
#include "platform/console.h"

namespace {

// A text's limit, passed by the command line; its summary goes to standard output unchanged.
constexpr char kTextTooLong[] =
    "nodestart: a text passed 2,147,483,647 characters; nothing was started";

void PrintUsage() {
  ConsolePrint(
      L"\n Invalid usage!\n USAGE: nodestart.exe NUMA_NODE_NUM target.exe [target_params, ...]");
  ConsolePrint(
      L"\n EXAMPLES:\n  nodestart.exe 1 7zg.exe b\n  nodestart.exe 1 \"indigo benchmark.exe\"");
}

int Run(int argc, const NativeChar* const argv[]) {
  ConsolePrint(L"\n NodeStart %S - starts a program with a preferred NUMA node", NODESTART_VERSION);
  ConsolePrint(L"\n Build %S %S\n", __DATE__, __TIME__);
  if (argc < 3) {
    PrintUsage();
    return kExitUsage;
  }
  const NodeParam node = ParseNodeParam(ArgumentToWide(argv[1]));
  if (!node.acceptable) {
    ConsolePrint(L"\n ERROR: Param 1 doesn't look like a NUMA node number!");
    PrintUsage();
    return kExitUsage;
  }
  const WideText application_name = ArgumentToWide(argv[2]);
  std::vector<WideText> target_arguments;
  for (int i = 3; i < argc; ++i) target_arguments.push_back(ArgumentToWide(argv[i]));
  WideText command_line = ComposeCommandLine(application_name, target_arguments);

  ConsolePrint(L"\n  Target: %s", application_name);
  ConsolePrint(L"\n   Command line: %s", command_line);
  ConsolePrint(L"\n   Preferred NUMA node: %d\n", node.number);
  return LaunchOnPreferredNode(application_name, std::move(command_line), node.number);
}

}  // namespace

int RunNodeStart(int argc, const NativeChar* const argv[]) {
  try {
    return Run(argc, argv);
  } catch (const CErr&) {
    return kExitSystemError;  // the report is printed already
  } catch (const TextLayerFailure&) {
    WriteNoteToStderr(kTextTooLong);
    return kExitTextFailure;
  } catch (const std::bad_alloc&) {
    WriteNoteToStderr("nodestart: memory ran out; nothing was started");
    return kExitTextFailure;
  } catch (const std::length_error&) {
    WriteNoteToStderr(kTextTooLong);
    return kExitTextFailure;
  }
}
