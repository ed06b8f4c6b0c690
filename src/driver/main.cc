#include "driver/run.h"

int main(int argc, char **argv) {
  return trelvik_main(argc, argv);
}
