// The whole run: options, input, reconciliation, staging, the checker run,
// cleanup, and the exit code.
#pragma once

int trelvik_main(int argc, char **argv);
