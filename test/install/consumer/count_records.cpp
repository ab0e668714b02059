// Prints how many records a recording holds.
#include <cstdio>

#include <cdt/datafile/data_file.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: count_records FILE\n");
    return 2;
  }
  cdt::DataFile file(argv[1]);
  if (!file.isOpen()) {
    std::fprintf(stderr, "count_records: cannot open %s: %s\n", argv[1],
                 cdt::dataFileStatusText(file.openReport().status));
    return 1;
  }
  unsigned long records = 0;
  while (cdt::readNextRecord(file)) ++records;
  std::printf("%lu\n", records);
  return 0;
}
