// cdt: the companion tool for recordings (inspect, make, recover, cut, group).
#include <cstdio>

#include "platform/command_line.h"
#include "platform/interrupts.h"
#include "tools/cdt.h"

int main(int argc, char** argv) {
  cdt::failWritesPastSizeLimit();
  cdt::CommandLine commandLine(argc, argv);
  return cdt::runCdt(commandLine.count(), commandLine.arguments(), stdout, stderr);
}
