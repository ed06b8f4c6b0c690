// The three diagnostic channels. Everything goes to standard output.
#pragma once

#if defined(__GNUC__)
#define TRELVIK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TRELVIK_PRINTF(fmt, args)
#endif

// Prints the message and a line end when the debug level is at least 1.
void log_debug1(const char *format, ...) TRELVIK_PRINTF(1, 2);
// Likewise from debug level 2.
void log_debug2(const char *format, ...) TRELVIK_PRINTF(1, 2);
// Counts one error, then prints the message as it stands (formats carry their
// own line end). Returns the number of characters printed.
int log_error(const char *format, ...) TRELVIK_PRINTF(1, 2);
