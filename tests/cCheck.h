/* The check of the tests written in C: a failed condition is reported with its place and
   counted in `failures`, and the test goes on. */
#pragma once

#include <stdio.h>

static int failures = 0;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                   \
        }                                                                                 \
    } while (0)
