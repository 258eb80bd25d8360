#include "probe/machine_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/machine_nodes.h"
#include "probe/machine_text.h"
#include "probe/report_failure.h"

namespace {

int Write(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    return ReportFailure({"write to standard output", std::strerror(errno)});
  }
  return 0;
}

}  // namespace

int ReportMachine() {
  Machine machine;
  PlacementFailure failure;
  if (!LookAtMachine(machine, failure)) return ReportFailure(failure);
  return Write(MachineText(machine));
}

int ReportNodeOf(const std::string& name) {
  NamedDevice found;
  PlacementFailure failure;
  if (!FindNamedDevice(name, found, failure)) return ReportFailure(failure);
  std::string text;
  if (NodeOfText(name, found, text)) return Write(text);
  static_cast<void>(std::fputs(("nodestart-probe: " + text + "\n").c_str(), stderr));
  return 2;
}
