// SPDX-License-Identifier: GPL-3.0-or-later
// A property check for the fuzz targets: a failed property prints what was
// expected and aborts, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                            \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "%s:%d: property failed: %s\n  ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                      \
      std::fprintf(stderr, "\n");                                                             \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)
