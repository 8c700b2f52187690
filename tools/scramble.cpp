// rt_scramble IN OUT: writes the scrambled form of IN to OUT, so data files can
// ship as ".scram" (running it on a scrambled file gives the plain file back).
#include "core/scramble.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s IN OUT\n", argc > 0 ? argv[0] : "rt_scramble");
    return 1;
  }
  if (!scramble_file(argv[1], argv[2])) {
    fprintf(stderr, "rt_scramble: can't scramble \"%s\" into \"%s\"\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
