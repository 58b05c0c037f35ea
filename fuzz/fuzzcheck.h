// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdio>
#include <cstdlib>

// A property every input must keep: when it fails, the fuzzer stops on a crash and saves
// the input that broke it.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: %s: %s\n", __FILE__, __LINE__, #condition,                \
                         qUtf8Printable(what));                                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
