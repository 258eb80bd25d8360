#include "probe/machine_report.h"

#include "platform/machine_nodes.h"
#include "probe/machine_text.h"
#include "probe/report_failure.h"

int ReportMachine() {
  Machine machine;
  PlacementFailure failure;
  if (!LookAtMachine(machine, failure)) return ReportFailure(failure);
  return WriteOut(MachineText(machine));
}

int ReportNodeOf(const std::string& name) {
  NamedDevice found;
  PlacementFailure failure;
  if (!FindNamedDevice(name, found, failure)) return ReportFailure(failure);
  std::string text;
  if (NodeOfText(name, found, text)) return WriteOut(text);
  Say("nodestart-probe: " + text + "\n");
  return 2;
}
