// The one Monitor state record, and the ownership rule of texts in force.
#include "core/state.h"

#include <cstdlib>
#include <cstring>

MonitorState Monitor;

void PutTextInForce(char **field, const char *text)
{
    char *copy = nullptr;
    if (text && *text) {
        size_t n = strlen(text) + 1;
        copy = static_cast<char *>(malloc(n));
        if (copy)
            memcpy(copy, text, n);
    }
    // Copy before freeing: the new text may be the old one.
    free(*field);
    *field = copy;
}
