// Writes the quicksort's hostile input to standard output: COUNT lines of
// eight digits each ending in CR LF, in the order that drives the
// median-of-three pivot to its worst (see tests/support/killer_input.h).
//
//   gen_killer COUNT
#include <cstdio>
#include <cstdlib>

#include "support/killer_input.h"

int main(int argc, char** argv) {
  if (argc != 2 || atoi(argv[1]) < 1) {
    fprintf(stderr, "usage: gen_killer COUNT\n");
    return 2;
  }
  for (int32_t v : quarnel::testing::killer_values(atoi(argv[1]))) {
    printf("%08d\r\n", static_cast<int>(v));
  }
  return 0;
}
