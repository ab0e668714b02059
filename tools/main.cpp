// cdt: the companion tool for recordings (inspect, make, recover, cut, group).
#include <cstdio>

#include "tools/cdt.h"

int main(int argc, char** argv) {
  return cdt::runCdt(argc, argv, stdout, stderr);
}
