// cdt2csv: converts recorded data files into CSV files in the current
// directory.
#include <cstdio>

#include "driver/converter.h"
#include "platform/command_line.h"
#include "platform/interrupts.h"

int main(int argc, char** argv) {
  cdt::failWritesPastSizeLimit();
  cdt::CommandLine commandLine(argc, argv);
  return cdt::runConverter(commandLine.count(), commandLine.arguments(), stdout, stderr);
}
