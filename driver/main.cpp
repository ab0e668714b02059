// cdt2csv: converts recorded data files into CSV files in the current
// directory.
#include <cstdio>

#include "driver/converter.h"

int main(int argc, char** argv) {
  return cdt::runConverter(argc, argv, stdout, stderr);
}
