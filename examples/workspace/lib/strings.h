#ifndef STRINGS_H
#define STRINGS_H

#include <stddef.h>

size_t count_char(const char *text, char wanted);

#endif
