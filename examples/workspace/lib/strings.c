#include "strings.h"

size_t count_char(const char *text, char wanted) {
    size_t count = 0;
    for (; *text != '\0'; ++text) {
        if (*text == wanted) {
            ++count;
        }
    }
    return count;
}
