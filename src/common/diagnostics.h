// The diagnostic channels. Everything goes to standard output.
#pragma once

#if defined(__GNUC__)
#define TRELVIK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TRELVIK_PRINTF(fmt, args)
#endif

// The number of -b options seen so far; 0 until the options raise it.
int debug_level();
void set_debug_level(int level);

// Prints the message and a line end when the debug level is at least 1.
void log_debug1(const char *format, ...) TRELVIK_PRINTF(1, 2);
// Likewise from debug level 2.
void log_debug2(const char *format, ...) TRELVIK_PRINTF(1, 2);
// Prints an error message as it stands (formats carry their own line end),
// at every debug level. What the error does to the run is its caller's to
// say, through the outcome it returns (common/outcome.h).
void log_error(const char *format, ...) TRELVIK_PRINTF(1, 2);
