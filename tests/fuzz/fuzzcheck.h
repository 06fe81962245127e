#pragma once

#include <QtGlobal>

// A property that holds for every input; a violation aborts, which libFuzzer records as a crash.
#define FUZZ_CHECK(condition)                                                                                          \
    ((condition) ? void() : qFatal("%s:%d: does not hold: %s", __FILE__, __LINE__, #condition))
