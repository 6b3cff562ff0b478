// Prints the built-in 8 x 16 font bitmap as hex, so that the whole-program
// tests can read text off screenshots with the font lifesim draws with.
#include <cstdio>

#include "graphics/font8x16.h"

int main() {
  for (unsigned char b : kBuiltinFont8x16) printf("%02x", b);
  printf("\n");
  return 0;
}
